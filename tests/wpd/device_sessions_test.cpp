// Device sessions kept between requests: one open for many requests of the
// same kind, closed when idle, when the cache shuts down, or when the device
// went away; a stale session is retried once only while nothing was
// delivered.

#include "wpd/device_sessions.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/wpd/device_outcome.h"
#include "tests/wpd/device_test_util.h"
#include "tests/wpd/object_copy_test_util.h"
#include "wpd/com_apartment_guard.h"
#include "wpd/media_enumeration.h"
#include "wpd/media_scan.h"
#include "wpd/object_deletion.h"

namespace snapferry {
namespace {

using testing_util::kSmallPhone;
using testing_util::OnWorker;
using testing_util::SmallPhone;
using wpd_sim::Fault;
using namespace std::chrono_literals;

const std::string kPhone = WideToUtf8(kSmallPhone);
constexpr HRESULT kGone = static_cast<HRESULT>(0x8007048F);

class DeviceSessionsTest : public ::testing::Test {
 protected:
  uint64_t Opens() const { return sim_->LinkUse(kSmallPhone).opens; }

  // A copy of fixture object `id` (by its id on the current connection).
  ObjectOpResult Copy(const wchar_t* id, const ProgressCallback& progress = {},
                      DeviceSessions* sessions = nullptr) {
    std::atomic<bool> cancel{false};
    const std::string object = WideToUtf8(sim_->ObjectId(kSmallPhone, id));
    return OnWorker([&] {
      return CopyObjectToFile(kPhone, object, staging_.File("copy"), progress,
                              cancel, nullptr,
                              sessions != nullptr ? sessions : &sessions_);
    });
  }

  // Waits up to two seconds for `done`.
  static bool Eventually(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + 2s;
    while (!done()) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::this_thread::sleep_for(2ms);
    }
    return true;
  }

  std::unique_ptr<wpd_sim::Simulator> sim_ =
      std::make_unique<wpd_sim::Simulator>(SmallPhone());
  test::StagingFolder staging_;
  DeviceSessions sessions_;
};

TEST_F(DeviceSessionsTest, RequestsOfOneKindShareOneSessionUntilShutDown) {
  int opened = 0, closing = 0;
  sessions_.SetSessionHooks(
      [&](const SessionKey&, IPortableDevice* device) {
        EXPECT_NE(device, nullptr);
        ++opened;
      },
      [&](const SessionKey&, IPortableDevice*) { ++closing; });
  EXPECT_EQ(Copy(L"o1").status, ObjectOpStatus::kOk);
  EXPECT_EQ(Copy(L"o3").status, ObjectOpStatus::kOk);
  EXPECT_EQ(OnWorker([&] {
              return EnumerateMedia(kPhone, nullptr, &sessions_).entries.size();
            }),
            4u);
  EXPECT_EQ(OnWorker([&] {
              return CanDeleteObject(kPhone, WideToUtf8(L"o3"), &sessions_);
            }),
            kCanDelete);
  EXPECT_EQ(Opens(), 1u);
  EXPECT_EQ(sim_->OpenSessions(kSmallPhone), 1);

  // The scan declares another client version, a deletion asks for write
  // access: each has a session of its own.
  EXPECT_EQ(OnWorker([&] { return ScanMedia(kPhone, &sessions_).status; }),
            ScanStatus::kOk);
  EXPECT_EQ(
      OnWorker([&] { return DeleteObject(kPhone, "o4", &sessions_).status; }),
      ObjectOpStatus::kOk);
  EXPECT_EQ(Opens(), 3u);
  EXPECT_EQ(sessions_.Kept(), 3u);
  EXPECT_EQ(opened, 3);
  EXPECT_EQ(closing, 0);

  sessions_.Shutdown();
  EXPECT_EQ(closing, 3);
  EXPECT_EQ(sim_->OpenSessions(kSmallPhone), 0);
  EXPECT_EQ(sim_->OpenWithoutClose(), 0);
  EXPECT_EQ(sim_->LiveObjects(), 0) << sim_->LiveObjectsText();
  // After the shutdown a request opens a session of its own and closes it.
  EXPECT_EQ(Copy(L"o1").status, ObjectOpStatus::kOk);
  EXPECT_EQ(Opens(), 4u);
  EXPECT_EQ(sim_->OpenSessions(kSmallPhone), 0);
}

TEST_F(DeviceSessionsTest, AnIdleSessionClosesAndTheNextRequestOpensAgain) {
  sessions_.SetIdleClose(30ms);
  EXPECT_EQ(Copy(L"o1").status, ObjectOpStatus::kOk);
  // The closer lets go of a session before it closes it, outside its lock:
  // on a loaded machine the close comes a moment after the session left
  // the cache.
  ASSERT_TRUE(Eventually([&] {
    return sessions_.Kept() == 0 && sim_->OpenSessions(kSmallPhone) == 0 &&
           sim_->LiveObjects() == 0;
  }));
  EXPECT_EQ(sim_->OpenSessions(kSmallPhone), 0);
  EXPECT_EQ(sim_->OpenWithoutClose(), 0);
  EXPECT_EQ(sim_->LiveObjects(), 0) << sim_->LiveObjectsText();
  EXPECT_EQ(Copy(L"o1").status, ObjectOpStatus::kOk);
  EXPECT_EQ(Opens(), 2u);
}

TEST_F(DeviceSessionsTest, AFailedOpenIsNeverKept) {
  ASSERT_TRUE(sim_->SetOpenResult(kSmallPhone, testing_util::kAccessDenied));
  ObjectOpResult refused = Copy(L"o1");
  EXPECT_EQ(refused.error, "Open device failed (HRESULT 0x80070005)");
  EXPECT_EQ(sessions_.Kept(), 0u);
  ASSERT_TRUE(sim_->SetOpenResult(kSmallPhone, S_OK));
  EXPECT_EQ(Copy(L"o1").status, ObjectOpStatus::kOk);
  EXPECT_EQ(sessions_.Kept(), 1u);
}

// The phone was plugged in again since the session was opened: every request
// that meets the stale session before it delivered anything starts again on
// a new one and succeeds; a deletion never starts again.
TEST_F(DeviceSessionsTest,
       AStaleSessionIsRetriedOnceBeforeAnythingWasDelivered) {
  struct Case {
    const char* what;
    std::function<bool()> request;  // true when it succeeded
  };
  const std::vector<Case> cases = {
      {"copy", [&] { return Copy(L"o1").status == ObjectOpStatus::kOk; }},
      {"enumeration",
       [&] {
         return OnWorker([&] {
                  return EnumerateMedia(kPhone, nullptr, &sessions_).message;
                })
             .empty();
       }},
      {"delete check", [&] {
         const std::string id = WideToUtf8(sim_->ObjectId(kSmallPhone, L"o3"));
         return OnWorker([&] {
                  return CanDeleteObject(kPhone, id, &sessions_);
                }) == kCanDelete;
       }}};
  for (const Case& each : cases) {
    SCOPED_TRACE(each.what);
    ASSERT_TRUE(each.request());  // the session is kept
    const uint64_t opens = Opens();
    ASSERT_TRUE(sim_->Replug(kSmallPhone));
    EXPECT_TRUE(each.request());
    EXPECT_EQ(Opens(), opens + 1);
    EXPECT_EQ(sim_->OpenSessions(kSmallPhone), 1);  // the stale one closed
  }
}

TEST_F(DeviceSessionsTest, NoRetryOnceSomethingWasDeliveredNorForADeletion) {
  // A copy that reported progress before the device went away.
  ASSERT_EQ(Copy(L"o3").status, ObjectOpStatus::kOk);
  ASSERT_TRUE(sim_->SetObjectFault(kSmallPhone, L"o1", wpd_sim::Call::kRead,
                                   wpd_sim::Fault{kGone, 65536}));
  int reports = 0;
  ObjectOpResult copy = Copy(L"o1", [&](int64_t, int64_t) { ++reports; });
  EXPECT_EQ(copy.error, "Read from device failed (HRESULT 0x8007048F)");
  EXPECT_GE(reports, 1);
  EXPECT_EQ(Opens(), 1u);
  EXPECT_EQ(sessions_.Kept(), 0u);  // the session answered "gone": closed
  EXPECT_EQ(sim_->OpenSessions(kSmallPhone), 0);
  sim_->ClearFaults();

  // A listing that told entries before the device was pulled out: it is
  // not run again, and the probe finds the device gone (at once: the
  // first probe's pause is set to nothing here).
  sessions_.SetUnplugNoticePause(0ms);
  ASSERT_EQ(Copy(L"o3").status, ObjectOpStatus::kOk);
  ASSERT_TRUE(sim_->SetDeviceFault(kSmallPhone, wpd_sim::Call::kGetValues,
                                   wpd_sim::Fault::Unplug(5)));
  int told = 0;
  EnumerationResult listing = OnWorker([&] {
    return EnumerateMedia(
        kPhone, [&](const MediaEntry&) { ++told; }, &sessions_);
  });
  EXPECT_EQ(listing.hresult, kGone);
  EXPECT_GE(told, 1);
  EXPECT_EQ(Opens(), 2u);
  sim_->ClearFaults();
  ASSERT_TRUE(sim_->Plug(kSmallPhone));

  // A deletion on a stale session fails as the device answered.
  const std::string o4 = WideToUtf8(sim_->ObjectId(kSmallPhone, L"o4"));
  ASSERT_EQ(
      OnWorker([&] { return DeleteObject(kPhone, o4, &sessions_).status; }),
      ObjectOpStatus::kOk);
  ASSERT_TRUE(sim_->Replug(kSmallPhone));
  const uint64_t opens = Opens();
  const std::string o3 = WideToUtf8(sim_->ObjectId(kSmallPhone, L"o3"));
  ObjectOpResult deletion =
      OnWorker([&] { return DeleteObject(kPhone, o3, &sessions_); });
  EXPECT_EQ(deletion.hresult, kGone);
  EXPECT_EQ(Opens(), opens);
  EXPECT_TRUE(sim_->HasObject(kSmallPhone, sim_->ObjectId(kSmallPhone, L"o3")));
  EXPECT_EQ(
      OnWorker([&] { return DeleteObject(kPhone, o3, &sessions_); }).status,
      ObjectOpStatus::kOk);
}

// Windows may still list an unplugged phone, and open it, for a moment: a
// walk that probes at once takes the unplug for files it could not read,
// the pause before the first probe gets it right. Once the phone was found
// there, the connection's later probes do not wait.
TEST_F(DeviceSessionsTest, TheFirstProbeWaitsForWindowsToNoticeAnUnplug) {
  using std::chrono::milliseconds;
  const std::string gone = "0x8007048F;";
  struct Case {
    const char* what;
    milliseconds pause;
    Fault fault;  // on o3, and on o4 too where it stays plugged
    int waits;    // pauses the walk sits out
    std::string outcome;
  };
  const Case cases[] = {
      {"unplugged, no pause", 0ms, Fault::Unplug(0), 0,
       "ok unread 202610_a/o3 " + gone + " unread 202610_a/o4 " + gone +
           " unread 202610_a/f2 " + gone + " unread 202609_a/f1 " + gone},
      {"unplugged, the pause", 1000ms, Fault::Unplug(0), 1,
       "error 0x8007048F \"Enumerate objects failed (HRESULT 0x8007048F)\""},
      {"two files it cannot serve", 1000ms, Fault{testing_util::kGenFailure, 0},
       1,
       "ok o1 IMG_0001.HEIC 202609_a 197608 2026-09-14T10:00:00; "
       "o2 IMG_0001.MOV 202609_a 3000 2026-09-14T10:00:00; "
       "unread 202610_a/o3 0x8007001F; unread 202610_a/o4 0x8007001F;"},
  };
  for (const Case& each : cases) {
    SCOPED_TRACE(each.what);
    wpd_sim::Fixture fixture = SmallPhone();
    fixture.devices[0].NoticeUnplugAfter(300);
    sim_.reset();
    sim_ = std::make_unique<wpd_sim::Simulator>(std::move(fixture));
    ASSERT_TRUE(sim_->ok());
    for (const wchar_t* object : {L"o3", L"o4"}) {
      ASSERT_TRUE(sim_->SetObjectFault(kSmallPhone, object,
                                       wpd_sim::Call::kGetValues, each.fault));
    }
    DeviceSessions sessions;
    sessions.SetUnplugNoticePause(each.pause);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(test::Outcome(OnWorker(
                  [&] { return EnumerateMedia(kPhone, nullptr, &sessions); })),
              each.outcome);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, each.waits * each.pause);
    EXPECT_LT(took, each.waits * each.pause + 900ms);  // not a second wait
  }
}

TEST_F(DeviceSessionsTest, ConcurrentRequestsShareTheSessionOpenedOnce) {
  // A link, so that the requests overlap the open and one another.
  wpd_sim::Fixture fixture = SmallPhone();
  fixture.devices[0].Link(wpd_sim::LinkSpec::Usb2());
  sim_.reset();
  sim_ = std::make_unique<wpd_sim::Simulator>(std::move(fixture));
  ASSERT_TRUE(sim_->ok());
  std::vector<std::thread> workers;
  std::atomic<int> ok{0};
  test::StagingFolder staging;
  for (int i = 0; i < 6; ++i) {
    workers.emplace_back([&, i] {
      std::atomic<bool> cancel{false};
      const std::string path = staging.File(std::to_string(i).c_str());
      ObjectOpResult copy = CopyObjectToFile(kPhone, i % 2 ? "o1" : "o3", path,
                                             {}, cancel, nullptr, &sessions_);
      const uint64_t size = i % 2 ? 3 * 65536 + 1000 : 2000;
      if (copy.status == ObjectOpStatus::kOk &&
          test::Contents(path) == test::Pattern(size)) {
        ++ok;
      }
      if (EnumerateMedia(kPhone, nullptr, &sessions_).entries.size() == 4) ++ok;
    });
  }
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(ok, 12);
  EXPECT_EQ(Opens(), 1u);
  sessions_.Shutdown();
  EXPECT_EQ(sim_->OpenWithoutClose(), 0);
  EXPECT_EQ(sim_->LiveObjects(), 0) << sim_->LiveObjectsText();
}

// Two copies share a session; a cancel meant for one reaches its stream and
// leaves the other request on that session alone.
TEST_F(DeviceSessionsTest, ACancelReachesTheCopysStreamNotItsSharedSession) {
  for (const wchar_t* object : {L"o1", L"o3"}) {
    ASSERT_TRUE(sim_->SetObjectFault(kSmallPhone, object, wpd_sim::Call::kRead,
                                     wpd_sim::Fault::Hang(0)));
  }
  PendingCopies pending;
  std::atomic<bool> cancel_cancelled{false}, cancel_other{false};
  ObjectOpResult cancelled, other;
  std::thread first([&] {
    cancelled = CopyObjectToFile(kPhone, "o1", staging_.File("a"), {},
                                 cancel_cancelled, &pending, &sessions_);
  });
  std::thread second([&] {
    other = CopyObjectToFile(kPhone, "o3", staging_.File("b"), {}, cancel_other,
                             nullptr, &sessions_);
  });
  ASSERT_TRUE(Eventually([&] { return sim_->BlockedReads() == 2; }));
  EXPECT_EQ(Opens(), 1u);
  cancel_cancelled = true;
  pending.CancelAll();
  first.join();
  EXPECT_EQ(cancelled.status, ObjectOpStatus::kCancelled);
  EXPECT_EQ(sim_->BlockedReads(), 1);
  sim_->Unplug(kSmallPhone);
  second.join();
  EXPECT_EQ(other.status, ObjectOpStatus::kError);
}

TEST_F(DeviceSessionsTest, ASessionInUseAtShutdownClosesWhenGivenBack) {
  SessionLease lease;
  std::thread([&] {
    ComApartmentGuard apartment;
    ASSERT_EQ(DeviceSessions::Open(&sessions_, {kPhone}, &lease), S_OK);
  }).join();
  sessions_.Shutdown();
  EXPECT_EQ(sim_->OpenSessions(kSmallPhone), 1);
  std::thread([&] {
    ComApartmentGuard apartment;
    lease.Reset();
  }).join();
  EXPECT_EQ(sim_->OpenSessions(kSmallPhone), 0);
  EXPECT_EQ(sim_->OpenWithoutClose(), 0);
  EXPECT_EQ(sim_->LiveObjects(), 0) << sim_->LiveObjectsText();
}

}  // namespace
}  // namespace snapferry
