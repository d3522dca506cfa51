#include "importer/connection.h"

#include <cstdint>
#include <utility>

#include "importer/file_placement.h"
#include "wpd/device_connection.h"

namespace importer {
namespace {

using Clock = std::chrono::steady_clock;
using flutter::EncodableValue;
using flutter::ValueList;

// Open of a device that is not plugged in: HRESULT_FROM_WIN32(
// ERROR_FILE_NOT_FOUND), as a copy that starts after the unplug meets it.
constexpr uint32_t kDeviceNotFound = 0x80070002;

// "Windows Portable Devices is not available ..." with the code from the
// failure text ("... failed (HRESULT 0x80040154)") when it carries one.
std::string NotAvailableLine(const Reply& reply) {
  const std::string& message = reply.message;
  const size_t code = message.find("HRESULT 0x");
  if (reply.kind == Reply::kError && code != std::string::npos &&
      code + 18 <= message.size()) {
    return "Windows Portable Devices is not available on this computer (" +
           message.substr(code, 18) + ").";
  }
  return "Windows Portable Devices is not available on this computer: " +
         (reply.kind == Reply::kError ? message : reply.Describe()) + ".";
}

std::string DeviceLine(const EncodableValue& device) {
  std::string line = "  \"" + StringField(device, "friendlyName") + "\"";
  const std::string maker = StringField(device, "manufacturer");
  if (!maker.empty()) line += " (" + maker + ")";
  return line;
}

}  // namespace

bool MeansDeviceGone(const Reply& reply) {
  // A copy answers a map with "status" "error"; the other methods an error
  // whose details are the code.
  uint32_t hresult = 0;
  std::string error;
  if (reply.ok() && StringField(reply.value, "status") == "error") {
    hresult = static_cast<uint32_t>(IntField(reply.value, "hresult"));
    error = StringField(reply.value, "error");
  } else if (reply.kind == Reply::kError) {
    if (const auto* code = std::get_if<int64_t>(&reply.value)) {
      hresult = static_cast<uint32_t>(*code);
    } else if (const auto* narrow = std::get_if<int32_t>(&reply.value)) {
      hresult = static_cast<uint32_t>(*narrow);
    }
    error = reply.message;
  }
  return snapferry::IsDeviceGone(static_cast<HRESULT>(hresult)) ||
         (hresult == kDeviceNotFound && error.rfind("Open device", 0) == 0);
}

Connection::Connection(const Options& options, const SessionState& state,
                       ChannelClient& client, const Report& report, After after,
                       Events events)
    : options_(options),
      state_(state),
      client_(client),
      report_(report),
      after_(std::move(after)),
      events_(std::move(events)),
      wait_until_(Clock::now() + std::chrono::seconds(options.wait_seconds)) {}

void Connection::ListDevices() {
  if (state_.over || state_.interrupted) return;
  client_.Call(kMethodChannel, "listDevices", nullptr,
               [this](const Reply& reply) { OnDevices(reply); });
}

void Connection::OnDevices(const Reply& reply) {
  if (state_.over || state_.interrupted) return;
  devices_reply_ = reply;
  const auto* devices =
      reply.ok() ? std::get_if<ValueList>(&reply.value) : nullptr;
  if (devices == nullptr) {
    // Portable Devices is there, but the system's list of devices could not
    // be read, as happens while it changes (a phone plugged in or pulled
    // out): a passing fault, listed again while the wait lasts.
    if (reply.kind == Reply::kError &&
        reply.message.rfind("GetDevices failed", 0) == 0) {
      Wait("Listing the devices failed (" + reply.Describe() +
               "); trying again.",
           [this] { ListDevices(); });
      return;
    }
    events_.stop(NotAvailableLine(reply));
    return;
  }
  const EncodableValue* chosen = nullptr;
  for (const EncodableValue& device : *devices) {
    const bool fits =
        away_ ? IsChosenDevice(StringField(device, "id"))
        : options_.device.empty()
            ? BoolField(device, "isApple")
            : StringField(device, "id") == options_.device ||
                  EqualIgnoringAsciiCase(StringField(device, "friendlyName"),
                                         options_.device);
    if (fits) {
      chosen = &device;
      break;
    }
  }
  if (chosen != nullptr && away_) {
    away_ = false;
    ++connection_;
    report_.Line("The device is back: reading the camera roll again.");
    events_.back();
    return;
  }
  if (away_) {
    AwaitReturn();
    return;
  }
  if (chosen != nullptr) {
    device_id_ = StringField(*chosen, "id");
    report_.Line("Device: " + StringField(*chosen, "friendlyName") + " (" +
                 StringField(*chosen, "manufacturer") + ")");
    events_.chosen(*chosen);
    return;
  }
  std::string message;
  if (!options_.device.empty()) {
    message = "No device named \"" + options_.device + "\" is connected.";
  } else if (devices->empty()) {
    message =
        "No iPhone or iPad is connected. Connect it with its cable and "
        "unlock it.";
  } else {
    message = "No iPhone or iPad is connected.";
  }
  if (!devices->empty()) {
    message += " Connected devices:";
    for (const EncodableValue& device : *devices) {
      message += "\n" + DeviceLine(device);
    }
    message +=
        "\nTo import from one of them, run again with --device \"NAME\".";
  }
  Wait(message, [this] { ListDevices(); });
}

void Connection::Wait(const std::string& message, std::function<void()> again) {
  if (!message.empty() && said_.insert(message).second) {
    report_.Line(message);
    if (said_.size() == 1) {
      report_.Line("Waiting up to " + std::to_string(options_.wait_seconds) +
                   " seconds (Ctrl+C to stop)...");
    }
  }
  if (!CanWaitAnotherPoll()) {
    events_.stop("Gave up after waiting " +
                 std::to_string(options_.wait_seconds) + " seconds.");
    return;
  }
  waiting_ = std::move(again);
  const int generation = ++wait_generation_;
  after_(options_.poll_milliseconds, [this, generation] {
    if (generation == wait_generation_) Wake();
  });
}

bool Connection::CanWaitAnotherPoll() const {
  return Clock::now() + std::chrono::milliseconds(options_.poll_milliseconds) <=
         wait_until_;
}

void Connection::Wake() {
  std::function<void()> again = std::move(waiting_);
  waiting_ = nullptr;
  ++wait_generation_;
  if (again && !state_.over && !state_.interrupted) again();
}

bool Connection::IsChosenDevice(const std::string& id) const {
  // Listed ids and the system's paths differ in letter case only.
  return !device_id_.empty() && EqualIgnoringAsciiCase(id, device_id_);
}

void Connection::OnDeviceEvent(const std::string& event,
                               const std::string& id) {
  if (state_.over || state_.interrupted) return;
  if (event == "arrived") {
    // Whatever the wait is for, a device that arrives may end it.
    if (waiting_) Wake();
  } else if (event == "removed" && IsChosenDevice(id)) {
    WentAway();
  } else if (event == "reset" && IsChosenDevice(id)) {
    events_.reset();
    // No copy starts until the phone is plugged in again; the files owed
    // wait for it as for a phone pulled out.
    wait_until_ = Clock::now() + std::chrono::seconds(options_.wait_seconds);
    report_.Line(
        "The device reset: it shows no photos until it is plugged in again. "
        "Replug the phone (unplug it and plug it in again) to carry on.");
  }
}

void Connection::WentAway() {
  if (away_ || state_.over || state_.interrupted || device_id_.empty()) return;
  away_ = true;
  // The wait starts again only when something was settled since the phone
  // last went away: a phone that keeps going and coming back without
  // serving a file does not hold the import past the wait.
  const int outcomes = events_.settled();
  if (outcomes != outcomes_at_away_) {
    outcomes_at_away_ = outcomes;
    wait_until_ = Clock::now() + std::chrono::seconds(options_.wait_seconds);
  }
  report_.Line(
      "The device went away (unplugged, or it stopped answering). Plug it in "
      "again to carry on; waiting up to " +
      std::to_string(options_.wait_seconds) + " seconds (Ctrl+C to stop)...");
  events_.went_away();
}

void Connection::Probe() {
  if (probing_ || away_ || state_.over) return;
  probing_ = true;
  const int pause = paused_connection_ == connection_
                        ? 0
                        : options_.unplug_notice_milliseconds;
  paused_connection_ = connection_;
  after_(pause, [this] {
    if (state_.over) return;
    client_.Call(kMethodChannel, "listDevices", nullptr,
                 [this](const Reply& reply) { OnProbed(reply); });
  });
}

void Connection::OnProbed(const Reply& reply) {
  probing_ = false;
  if (state_.over) return;
  bool listed = false;
  if (const auto* devices =
          reply.ok() ? std::get_if<ValueList>(&reply.value) : nullptr) {
    for (const EncodableValue& device : *devices) {
      listed = listed || IsChosenDevice(StringField(device, "id"));
    }
  }
  if (!listed) WentAway();
  events_.probed(listed);
}

}  // namespace importer
