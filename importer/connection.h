// The connection to the phone: choosing the device and waiting for one,
// every wait bounded by --wait (a locked phone, one that does not trust the
// PC yet, one pulled out or reset); device events; and the probe that tells
// a phone that went away from one file it cannot serve.

#ifndef SNAPFERRY_IMPORTER_CONNECTION_H_
#define SNAPFERRY_IMPORTER_CONNECTION_H_

#include <chrono>
#include <functional>
#include <set>
#include <string>

#include "importer/channel_client.h"
#include "importer/options.h"
#include "importer/report.h"
#include "importer/session_state.h"

namespace importer {

// Whether a copy's or thumbnail's reply says the device went away.
bool MeansDeviceGone(const Reply& reply);

class Connection {
 public:
  // What the connection tells the import.
  struct Events {
    // The device to import from, found the first time.
    std::function<void(const flutter::EncodableValue& device)> chosen;
    // Listed again after it went away: a new connection.
    std::function<void()> back;
    // It went away, and it was said.
    std::function<void()> went_away;
    // It reset: listings before now are not trusted.
    std::function<void()> reset;
    // A probe ended: the phone is `listed`, or went away.
    std::function<void(bool listed)> probed;
    // The import cannot go on: `problem` says why.
    std::function<void(const std::string& problem)> stop;
    // How many files have an outcome so far.
    std::function<int()> settled;
  };
  using After = std::function<void(int milliseconds, std::function<void()>)>;

  Connection(const Options& options, const SessionState& state,
             ChannelClient& client, const Report& report, After after,
             Events events);

  // Lists the devices and chooses one, or waits for it.
  void ListDevices();

  // Says `message` once per distinct message, then runs `again` after the
  // poll interval or at the next device arrival, whichever comes first; once
  // the wait is over, stops instead.
  void Wait(const std::string& message, std::function<void()> again);
  // Whether one more poll interval fits in the wait.
  bool CanWaitAnotherPoll() const;
  // Listed again is back: polled, and woken early by an arrival.
  void AwaitReturn() {
    Wait("", [this] { ListDevices(); });
  }

  // "snapferry/wpd_devices": arrivals wake a wait, a removal of the chosen
  // device is the phone going away, a reset asks for a replug.
  void OnDeviceEvent(const std::string& event, const std::string& id);

  // One file or thumbnail answered a went-away code: is the phone still
  // listed? Asked after a pause, the first time on a connection (Windows
  // takes a moment to notice an unplug). Not listed: it went away.
  void Probe();

  const std::string& device_id() const { return device_id_; }
  // What the last listDevices answered (the device report shows it).
  const Reply& devices_reply() const { return devices_reply_; }
  // The phone went away and has not been listed again yet.
  bool away() const { return away_; }
  bool probing() const { return probing_; }
  // Counts the connections this import has used (a replug is a new one):
  // replies to requests of an earlier one are not news.
  int number() const { return connection_; }

 private:
  void OnDevices(const Reply& reply);
  // Runs the waiting step now (a device arrived, or the poll interval ran
  // out).
  void Wake();
  bool IsChosenDevice(const std::string& id) const;
  // No copy starts, the running ones end, and the import waits for the
  // phone to come back.
  void WentAway();
  void OnProbed(const Reply& reply);

  const Options& options_;
  const SessionState& state_;
  ChannelClient& client_;
  const Report& report_;
  const After after_;
  const Events events_;

  std::string device_id_;
  Reply devices_reply_;
  std::chrono::steady_clock::time_point wait_until_;
  std::set<std::string> said_;
  // The step to run when woken; a generation tells the current wait's
  // timer from earlier ones.
  std::function<void()> waiting_;
  int wait_generation_ = 0;
  bool away_ = false;
  int connection_ = 0;
  // A probe is out; the connection whose first probe paused.
  bool probing_ = false;
  int paused_connection_ = -1;
  // Outcomes recorded when the phone last went away: a going away with no
  // outcome since does not make the wait longer, so no loop of "went away,
  // back" outlasts it.
  int outcomes_at_away_ = -1;
};

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_CONNECTION_H_
