// The engine host window over the in-process engine: start-up, the minimum
// size, the engine's first look at messages, the reply queue's wake-up
// message, and the order of teardown.

#include "host/flutter_window.h"

#include <windows.h>
#include <dbt.h>
#include <gtest/gtest.h>
#include <portabledevice.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "channel/jobs.h"
#include "messaging/engine_project.h"
#include "platform/engine/engine_control.h"
#include "platform/engine/inprocess/engine.h"
#include "platform/wpd/simulator/simulator.h"
#include "tests/channel/device_broadcast.h"
#include "tests/host/host_test_util.h"

namespace snapferry {
namespace {

using host_test::EncodedCall;
using host_test::PumpUntil;

// Opens the protected parts the tests drive by hand.
class TestFlutterWindow : public FlutterWindow {
 public:
  using FlutterWindow::FlutterWindow;
  using FlutterWindow::OnDestroyed;
};

// The engine's view window, if the engine has one and it is parented to
// `parent`.
HWND ChildOf(HWND parent) {
  FlutterDesktopEngineRef engine = engine_control::LatestEngine();
  if (engine == nullptr || engine->controller == nullptr) return nullptr;
  HWND view = engine->controller->view.hwnd;
  return view != nullptr && GetParent(view) == parent ? view : nullptr;
}

class FlutterWindowTest : public host_test::HostTest {
 protected:
  flutter::EngineProject project_{L"data"};
};

TEST_F(FlutterWindowTest, StaysHiddenUntilTheEnginesNextFrameThenShows) {
  TestFlutterWindow window(project_);
  ASSERT_TRUE(window.Create(L"Snapferry", {10, 10}, {640, 640}));
  EXPECT_FALSE(IsWindowVisible(window.Handle()));
  EXPECT_EQ(engine_control::GetCounts().frames_drawn, 0);

  EXPECT_TRUE(PumpUntil([&] { return IsWindowVisible(window.Handle()) != 0; }));
  EXPECT_GE(engine_control::GetCounts().frames_drawn, 1);
}

TEST_F(FlutterWindowTest, StartsTheEngineWithPluginsChannelsAndEmbeddedView) {
  TestFlutterWindow window(project_);
  ASSERT_TRUE(window.Create(L"Snapferry", {10, 10}, {640, 640}));
  FlutterDesktopEngineRef engine = engine_control::LatestEngine();
  ASSERT_NE(engine, nullptr);
  EXPECT_EQ(engine_control::FileSelectorRegistrations(engine),
            std::vector<std::string>{"FileSelectorWindows"});
  EXPECT_EQ(engine_control::RegisteredChannels(engine),
            (std::vector<std::string>{"snapferry/wpd", "snapferry/wpd_devices",
                                      "snapferry/wpd_events",
                                      "snapferry/wpd_media"}));

  HWND view = ChildOf(window.Handle());
  ASSERT_NE(view, nullptr);
  RECT client = window.ClientArea();
  RECT view_rect = {};
  GetClientRect(view, &view_rect);
  EXPECT_EQ(view_rect.right, client.right - client.left);
  EXPECT_EQ(view_rect.bottom, client.bottom - client.top);
}

TEST_F(FlutterWindowTest, FailsWithoutHandlerOrChildWhenTheViewCannotBeMade) {
  engine_control::FailViewControllerCreation(true);
  TestFlutterWindow window(project_);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(window.Create(L"Snapferry", {10, 10}, {640, 640}));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Failed to create view controller.\n");
  EXPECT_EQ(ChildOf(window.Handle()), nullptr);
  EXPECT_EQ(engine_control::LiveEngineCount(), 0);
  // Messages still reach the window and its base handling without an engine.
  EXPECT_EQ(SendMessageW(window.Handle(), kReplyReadyMessage, 0, 0), 0);
}

TEST_F(FlutterWindowTest,
       MinimumTrackingSizeIsScaledToTheWindowDpiBeforeTheEngine) {
  host_test::WindowProcRecorder recorder;
  TestFlutterWindow window(project_);
  ASSERT_TRUE(window.Create(L"Snapferry", {10, 10}, {640, 640}));
  const UINT dpi = GetDpiForWindow(window.Handle());
  MINMAXINFO info = {};
  EXPECT_EQ(SendMessageW(window.Handle(), WM_GETMINMAXINFO, 0,
                         reinterpret_cast<LPARAM>(&info)),
            0);
  if (dpi == 96) {
    EXPECT_EQ(info.ptMinTrackSize.x, 520);
    EXPECT_EQ(info.ptMinTrackSize.y, 480);
  }
  EXPECT_EQ(info.ptMinTrackSize.x, MulDiv(520, dpi, 96));
  EXPECT_EQ(info.ptMinTrackSize.y, MulDiv(480, dpi, 96));
  EXPECT_FALSE(recorder.Offered(WM_GETMINMAXINFO));
}

TEST_F(FlutterWindowTest,
       ReplyReadyMessageDrainsTheQueueAndNeverReachesTheEngine) {
  host_test::WindowProcRecorder recorder;
  TestFlutterWindow window(project_);
  ASSERT_TRUE(window.Create(L"Snapferry", {10, 10}, {640, 640}));
  FlutterDesktopEngineRef engine = engine_control::LatestEngine();
  ASSERT_NE(engine, nullptr);

  // A request that runs on a worker: its answer comes only through the
  // queue that the window drains. Without devices it is an error reply.
  const int number = engine_control::DeliverMessage(engine, "snapferry/wpd",
                                                    EncodedCall("listDevices"));
  ASSERT_TRUE(PumpUntil(
      [&] { return engine_control::ResponseTo(engine, number).has_value(); }));
  EXPECT_FALSE(engine_control::ResponseTo(engine, number)->empty());

  // The window's other messages do reach the engine.
  SendMessageW(window.Handle(), WM_NULL, 0, 0);
  EXPECT_TRUE(recorder.Offered(WM_NULL));
  EXPECT_FALSE(recorder.Offered(kReplyReadyMessage));
}

// A WPD device's arrival reaches the listener on "snapferry/wpd_devices";
// the engine still sees the message.
TEST_F(FlutterWindowTest, DeviceChangeReachesTheDeviceListenerAndTheEngine) {
  host_test::WindowProcRecorder recorder;
  TestFlutterWindow window(project_);
  ASSERT_TRUE(window.Create(L"Snapferry", {10, 10}, {640, 640}));
  FlutterDesktopEngineRef engine = engine_control::LatestEngine();
  const int listen = engine_control::DeliverMessage(
      engine, "snapferry/wpd_devices", EncodedCall("listen"));
  ASSERT_TRUE(PumpUntil(
      [&] { return engine_control::ResponseTo(engine, listen).has_value(); }));

  const std::wstring path = L"USB#VID_05AC#HOST#{6ac27878}";
  std::vector<unsigned char> bytes = channel_test::DeviceBroadcast(path);
  SendMessageW(window.Handle(), WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
               reinterpret_cast<LPARAM>(bytes.data()));

  std::vector<std::string> told;
  for (const auto& sent : engine_control::SentMessages(engine)) {
    if (sent.channel == "snapferry/wpd_devices")
      told.emplace_back(sent.bytes.begin(), sent.bytes.end());
  }
  ASSERT_EQ(told.size(), 1u);
  EXPECT_NE(told[0].find("arrived"), std::string::npos);
  EXPECT_NE(told[0].find("USB#VID_05AC#HOST"), std::string::npos);
  EXPECT_TRUE(recorder.Offered(WM_DEVICECHANGE));
}

TEST_F(FlutterWindowTest, FontChangeReloadsFontsOnlyWhenTheEngineDidNotTakeIt) {
  host_test::WindowProcRecorder recorder;
  TestFlutterWindow window(project_);
  ASSERT_TRUE(window.Create(L"Snapferry", {10, 10}, {640, 640}));

  recorder.Consume(WM_FONTCHANGE, 7);
  EXPECT_EQ(SendMessageW(window.Handle(), WM_FONTCHANGE, 0, 0), 7);
  EXPECT_EQ(engine_control::GetCounts().font_reloads, 0);

  recorder.Consume(WM_NULL, 0);
  EXPECT_EQ(SendMessageW(window.Handle(), WM_FONTCHANGE, 0, 0), 0);
  EXPECT_EQ(engine_control::GetCounts().font_reloads, 1);
}

// Runs the thread's messages, but holds back the window's wake-up messages
// until one has come, and returns it undelivered. Its own loop: a pump that
// dispatches on its own could deliver the wake-up first.
MSG HoldBackReplyReady(HWND window) {
  const auto deadline = std::chrono::steady_clock::now() + host_test::kTimeout;
  while (std::chrono::steady_clock::now() < deadline) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.hwnd == window && message.message == kReplyReadyMessage) {
        return message;
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return MSG{};
}

TEST_F(FlutterWindowTest, CompletionsLeftWhenDestructionBeginsAreDroppedUnrun) {
  TestFlutterWindow window(project_);
  ASSERT_TRUE(window.Create(L"Snapferry", {10, 10}, {640, 640}));
  FlutterDesktopEngineRef engine = engine_control::LatestEngine();
  const int number = engine_control::DeliverMessage(engine, "snapferry/wpd",
                                                    EncodedCall("listDevices"));
  MSG held = HoldBackReplyReady(window.Handle());
  ASSERT_EQ(held.message, kReplyReadyMessage);
  // The worker lets go of its queue reference right after posting.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));

  // The handler goes with its queue: the waiting completion is destroyed
  // without running, and its result says so.
  testing::internal::CaptureStderr();
  window.OnDestroyed();
  const std::string diagnostics = testing::internal::GetCapturedStderr();
  EXPECT_EQ(diagnostics,
            "Warning: Failed to respond to a message. This is a memory "
            "leak.\n");
  EXPECT_EQ(engine_control::LiveEngineCount(), 0);

  // The late wake-up changes nothing.
  testing::internal::CaptureStderr();
  EXPECT_EQ(SendMessageW(window.Handle(), kReplyReadyMessage, 0, 0), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(engine_control::GetCounts().late_responses, 0);
  EXPECT_EQ(engine_control::GetCounts().invalid_responses, 0);
  (void)number;
}

TEST_F(FlutterWindowTest,
       ClosingWhileACopyRunsUnregistersFirstAndDropsItsReply) {
  const std::wstring device_id =
      L"\\\\?\\usb#vid_05ac&pid_12a8#host0001#"
      L"{6ac27878-a6fa-4155-ba85-f98f491d4f33}";
  constexpr uint64_t kSize = 4 << 20;
  wpd_sim::Fixture fixture;
  auto& phone =
      fixture.AddDevice(device_id).FriendlyName(L"iPhone").Manufacturer(
          L"Apple Inc.");
  // Tiny reads keep the copy busy long enough to close the window under it.
  phone.max_read_size = 64;
  phone.AddStorage(L"s1", L"Internal Storage");
  phone.AddPatternFile(L"o1", L"s1", L"IMG_0001.MOV",
                       wpd_sim::ContentType::kVideo, kSize);
  wpd_sim::Simulator simulator(std::move(fixture));
  ASSERT_TRUE(simulator.ok()) << simulator.error();

  const std::filesystem::path staging =
      std::filesystem::temp_directory_path() /
      ("snapferry_host_close_" +
       std::to_string(
           std::chrono::steady_clock::now().time_since_epoch().count()) +
       ".part");
  std::filesystem::remove(staging);

  TestFlutterWindow window(project_);
  ASSERT_TRUE(window.Create(L"Snapferry", {10, 10}, {640, 640}));
  window.SetQuitWhenDestroyed(false);
  FlutterDesktopEngineRef engine = engine_control::LatestEngine();
  engine_control::DeliverMessage(engine, "snapferry/wpd_events",
                                 EncodedCall("listen"));
  std::string device_utf8(device_id.begin(), device_id.end());
  engine_control::DeliverMessage(
      engine, "snapferry/wpd",
      EncodedCall("copyObject",
                  host_test::StringArgs({{"id", device_utf8},
                                         {"objectId", "o1"},
                                         {"tempPath", staging.u8string()}})));
  // The first progress event says the copy is under way.
  ASSERT_TRUE(PumpUntil([&] {
    for (const auto& sent : engine_control::SentMessages(engine)) {
      if (sent.channel == "snapferry/wpd_events") return true;
    }
    return false;
  }));

  testing::internal::CaptureStderr();
  DestroyWindow(window.Handle());
  EXPECT_EQ(engine_control::LiveEngineCount(), 0);
  EXPECT_EQ(window.Handle(), nullptr);

  // The copy goes on to its end on its own; its reply has nowhere to go.
  const auto deadline = std::chrono::steady_clock::now() + host_test::kTimeout;
  while (simulator.LiveObjects() != 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  engine_control::RunPendingMessages();
  const std::string diagnostics = testing::internal::GetCapturedStderr();
  EXPECT_EQ(simulator.LiveObjects(), 0) << simulator.LiveObjectsText();
  EXPECT_EQ(diagnostics,
            "Warning: Failed to respond to a message. This is a memory "
            "leak.\n");
  EXPECT_EQ(engine_control::GetCounts().late_responses, 0);
  EXPECT_EQ(engine_control::GetCounts().invalid_responses, 0);
  std::error_code error;
  EXPECT_EQ(std::filesystem::file_size(staging, error), kSize);
  std::filesystem::remove(staging, error);
}

}  // namespace
}  // namespace snapferry
