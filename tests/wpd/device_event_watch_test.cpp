// Events from the devices' own sessions: a session an operation opens while
// someone listens is advised, tells resets and removals, and is unadvised
// before it closes, when the listener goes and whatever call fails.
#include "wpd/device_event_watch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/wpd/simulator/call_log.h"
#include "platform/wpd/simulator/simulator.h"
#include "tests/wpd/device_test_util.h"
#include "wpd/device_connection.h"
#include "wpd/device_sessions.h"
#include "wpd/media_enumeration.h"
#include "wpd/object_copy.h"
#include "wpd/pending_copies.h"

namespace snapferry {
namespace {

using testing_util::kSmallPhone;

const std::string kPhone = WideToUtf8(kSmallPhone);

struct Told {
  std::string id;
  DeviceEventKind kind;
  uint64_t session;
  bool operator==(const Told& other) const {
    return id == other.id && kind == other.kind && session == other.session;
  }
};

std::ostream& operator<<(std::ostream& out, const Told& told) {
  return out << told.id
             << (told.kind == DeviceEventKind::kReset ? " reset " : " removed ")
             << told.session;
}

class DeviceEventWatchTest : public ::testing::Test {
 protected:
  DeviceEventWatchTest()
      : sim_(testing_util::SmallPhone()),
        watch_([this](const std::string& id, DeviceEventKind kind,
                      uint64_t session) {
          std::lock_guard<std::mutex> lock(mutex_);
          told_.push_back({id, kind, session});
        }) {}

  void SetUp() override { ASSERT_TRUE(sim_.ok()) << sim_.error(); }

  // Runs `operation` on a session cache of its own whose sessions are
  // attached to the watch as the handler attaches them; the cache, and with
  // it the session, is closed when the operation is over.
  template <typename Operation>
  auto WithSessions(Operation operation) {
    DeviceSessions sessions;
    sessions.SetSessionHooks(
        [this](const SessionKey& key, IPortableDevice* device) {
          watch_.Attach(device, key.device_id);
        },
        [this](const SessionKey&, IPortableDevice* device) {
          watch_.Detach(device);
        });
    return operation(&sessions);
  }

  std::vector<Told> TakeTold() {
    sim_.WaitForEventDelivery();
    std::lock_guard<std::mutex> lock(mutex_);
    return std::move(told_);
  }

  // Nothing of the session stays: not open, not advised, and never closed
  // while advised.
  void ExpectSessionsGone() {
    EXPECT_EQ(sim_.OpenSessions(kSmallPhone), 0);
    EXPECT_EQ(sim_.Advises(kSmallPhone), 0);
    EXPECT_EQ(sim_.AdvisesLeftAtClose(), 0);
    EXPECT_EQ(sim_.LiveObjects(), 0) << sim_.LiveObjectsText();
  }

  // Starts a copy of the fixture's o1 (on the device's current connection)
  // whose reads hang after the first chunk, on a thread of its own, and
  // waits until it hangs.
  std::thread StartHungCopy(PendingCopies* pending, std::atomic<bool>* cancel,
                            ObjectOpResult* result) {
    const std::wstring object = sim_.ObjectId(kSmallPhone, L"o1");
    EXPECT_TRUE(sim_.SetObjectFault(kSmallPhone, object, wpd_sim::Call::kRead,
                                    wpd_sim::Fault::Hang(65536)));
    std::thread copy([this, pending, cancel, result, object] {
      *result = WithSessions([&](DeviceSessions* sessions) {
        return CopyObjectToFile(
            kPhone, WideToUtf8(object),
            (std::filesystem::temp_directory_path() / "snapferry-hung.part")
                .u8string(),
            [](int64_t, int64_t) {}, *cancel, pending, sessions);
      });
    });
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (sim_.BlockedReads() == 0 &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(sim_.BlockedReads(), 1);
    return copy;
  }

  wpd_sim::Simulator sim_;
  DeviceEventWatch watch_;
  std::mutex mutex_;
  std::vector<Told> told_;
};

TEST_F(DeviceEventWatchTest, AResetDuringAnEnumerationIsToldByItsSession) {
  watch_.StartListening();
  bool reset = false;
  EnumerationResult listing = testing_util::OnWorker([&] {
    return WithSessions([&](DeviceSessions* sessions) {
      return EnumerateMedia(
          kPhone,
          [&](const MediaEntry&) {
            if (!reset) reset = sim_.Reset(kSmallPhone);
          },
          sessions);
    });
  });
  EXPECT_TRUE(listing.message.empty()) << listing.message;
  EXPECT_EQ(TakeTold(),
            (std::vector<Told>{{kPhone, DeviceEventKind::kReset, 1}}));
  EXPECT_EQ(watch_.LastSession(), 1u);
  ExpectSessionsGone();
}

TEST_F(DeviceEventWatchTest, NoSessionIsAdvisedWithoutAListener) {
  wpd_sim::CallLog log;
  EnumerationResult listing = testing_util::OnWorker([&] {
    return WithSessions([&](DeviceSessions* sessions) {
      return EnumerateMedia(
          kPhone, [&](const MediaEntry&) { sim_.Reset(kSmallPhone); },
          sessions);
    });
  });
  EXPECT_TRUE(listing.message.empty());
  for (const wpd_sim::LoggedCall& call : log.calls()) {
    EXPECT_NE(call.method, "Device.Advise");
  }
  EXPECT_TRUE(TakeTold().empty());
  EXPECT_EQ(watch_.LastSession(), 0u);
  ExpectSessionsGone();
}

// A hung copy keeps its session open: an unplug reaches it as an event, and
// a listener that goes undoes its Advise at once, before the copy ends.
TEST_F(DeviceEventWatchTest, OpenSessionsTellRemovalsUntilTheListenerGoes) {
  PendingCopies pending;
  std::atomic<bool> cancel{false};
  ObjectOpResult first;
  watch_.StartListening();
  std::thread copy = StartHungCopy(&pending, &cancel, &first);
  EXPECT_EQ(sim_.Advises(kSmallPhone), 1);
  ASSERT_TRUE(sim_.Unplug(kSmallPhone));
  copy.join();
  EXPECT_EQ(first.status, ObjectOpStatus::kError);
  EXPECT_EQ(TakeTold(),
            (std::vector<Told>{{kPhone, DeviceEventKind::kRemoved, 1}}));
  ExpectSessionsGone();

  ASSERT_TRUE(sim_.Plug(kSmallPhone));
  sim_.ClearFaults();
  ObjectOpResult second;
  copy = StartHungCopy(&pending, &cancel, &second);
  ASSERT_EQ(sim_.Advises(kSmallPhone), 1);
  watch_.StopListening();
  EXPECT_EQ(sim_.Advises(kSmallPhone), 0);
  EXPECT_EQ(sim_.OpenSessions(kSmallPhone), 1);
  sim_.Reset(kSmallPhone);
  cancel = true;
  pending.CancelAll();
  copy.join();
  EXPECT_EQ(second.status, ObjectOpStatus::kCancelled);
  EXPECT_TRUE(TakeTold().empty());
  EXPECT_EQ(watch_.LastSession(), 2u);
  ExpectSessionsGone();
}

// Whatever call of an advised enumeration fails, and however, nothing stays
// advised or open. Only a failed Unadvise leaves its Advise for the Close,
// which drops it.
TEST_F(DeviceEventWatchTest, AnyFailingCallLeavesNothingAdvised) {
  watch_.StartListening();
  auto run = [&] {
    return testing_util::OnWorker(
        [&] {
          return WithSessions([&](DeviceSessions* sessions) {
            return EnumerateMedia(kPhone, nullptr, sessions);
          });
        });
  };
  std::vector<wpd_sim::LoggedCall> calls;
  {
    wpd_sim::CallLog log;
    run();
    calls = log.calls();
  }
  ASSERT_GT(calls.size(), 0u);
  int64_t left_at_close = 0;
  for (HRESULT hr : {E_FAIL, testing_util::kGenFailure}) {
    for (size_t k = 1; k <= calls.size(); ++k) {
      if (calls[k - 1].method == "CoUninitialize") continue;  // cannot fail
      std::optional<wpd_sim::LoggedCall> struck;
      {
        wpd_sim::CallLog strike(k, hr);
        run();
        struck = strike.struck();
      }
      ASSERT_TRUE(struck.has_value()) << calls[k - 1].method;
      if (struck->method == "Device.Unadvise") ++left_at_close;
      sim_.WaitForEventDelivery();
      EXPECT_EQ(sim_.Advises(kSmallPhone), 0) << struck->method;
      EXPECT_EQ(sim_.OpenSessions(kSmallPhone), 0) << struck->method;
      EXPECT_EQ(sim_.AdvisesLeftAtClose(), left_at_close) << struck->method;
      EXPECT_EQ(sim_.LiveObjects(), 0) << struck->method;
    }
  }
  EXPECT_EQ(left_at_close, 2);
}

}  // namespace
}  // namespace snapferry
