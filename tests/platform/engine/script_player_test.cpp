// The in-process engine's script interface, played into channels of a small
// host: a top-level window that embeds the engine's view.

#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/engine/engine_api.h"
#include "platform/engine/engine_control.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

constexpr wchar_t kHostClass[] = L"ScriptPlayerTestHost";

LRESULT CALLBACK HostWindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  } else if (message == WM_DESTROY) {
    auto* destroyed =
        reinterpret_cast<bool*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (destroyed != nullptr) *destroyed = true;
  }
  // WM_CLOSE goes on to DestroyWindow, as in any window.
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

// Answers with 0xFF and the message's bytes, after sending the message's
// bytes on "events".
void Echo(FlutterDesktopMessengerRef messenger,
          const FlutterDesktopMessage* message, void*) {
  Bytes reply = {0xFF};
  reply.insert(reply.end(), message->message,
               message->message + message->message_size);
  FlutterDesktopMessengerSend(messenger, "events", message->message,
                              message->message_size);
  FlutterDesktopMessengerSendResponse(messenger, message->response_handle,
                                      reply.data(), reply.size());
}

class ScriptPlayerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine_control::Reset();
    engine_control::SetInterfaceOutput([this](const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex_);
      lines_.push_back(line);
    });
    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = HostWindowProc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = kHostClass;
    RegisterClassW(&window_class);
    host_ = CreateWindowExW(0, kHostClass, L"host", WS_OVERLAPPEDWINDOW, 0, 0,
                            400, 300, nullptr, nullptr,
                            GetModuleHandleW(nullptr), &host_destroyed_);
    ASSERT_NE(host_, nullptr);
  }

  void TearDown() override {
    for (auto& thread : threads_) thread.join();
    if (controller_ != nullptr)
      FlutterDesktopViewControllerDestroy(controller_);
    if (!host_destroyed_) DestroyWindow(host_);
    EXPECT_TRUE(engine_control::RunMessagesUntil(
        [] { return engine_control::RunningScriptReaders() == 0; },
        std::chrono::seconds(5)));
    EXPECT_EQ(engine_control::LiveEngineCount(), 0);
    engine_control::Reset();
    if (!script_path_.empty()) std::remove(script_path_.c_str());
  }

  std::string WriteScript(const std::string& text) {
    script_path_ =
        testing::TempDir() + "engine_script_" +
        testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
    std::FILE* file = std::fopen(script_path_.c_str(), "wb");
    EXPECT_NE(file, nullptr);
    if (file == nullptr) return script_path_;
    std::fputs(text.c_str(), file);
    std::fclose(file);
    return script_path_;
  }

  // Starts an engine whose entry-point arguments are `arguments`, registers
  // `callbacks`, embeds its view in the host window.
  void Start(
      const std::vector<std::string>& arguments,
      const std::vector<std::pair<const char*, FlutterDesktopMessageCallback>>&
          callbacks,
      void* user_data = nullptr) {
    std::vector<const char*> argv;
    for (const auto& argument : arguments) argv.push_back(argument.c_str());
    FlutterDesktopEngineProperties properties = {};
    properties.assets_path = L"data\\flutter_assets";
    properties.icu_data_path = L"data\\icudtl.dat";
    properties.aot_library_path = L"data\\app.so";
    properties.entry_point = "";
    properties.entry_point_argc = static_cast<int32_t>(argv.size());
    properties.entry_point_argv = argv.empty() ? nullptr : argv.data();
    FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(&properties);
    ASSERT_NE(engine, nullptr);
    // As a host does: channels first, then the view goes into the window.
    for (const auto& [channel, callback] : callbacks) {
      FlutterDesktopMessengerSetCallback(
          FlutterDesktopEngineGetMessenger(engine), channel, callback,
          user_data);
    }
    controller_ = FlutterDesktopViewControllerCreate(400, 300, engine);
    ASSERT_NE(controller_, nullptr);
    HWND view = FlutterDesktopViewGetHWND(
        FlutterDesktopViewControllerGetView(controller_));
    SetParent(view, host_);
  }

  // Runs the loop until the player has closed the host window.
  bool RunUntilClosed() {
    return engine_control::RunMessagesUntil([&] { return host_destroyed_; },
                                            std::chrono::seconds(20));
  }

  Lines lines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }

  HWND host_ = nullptr;
  bool host_destroyed_ = false;
  FlutterDesktopViewControllerRef controller_ = nullptr;
  std::vector<std::thread> threads_;
  std::string script_path_;
  std::mutex mutex_;
  Lines lines_;
};

TEST_F(ScriptPlayerTest, PlaysMessagesIntoChannelsAndPrintsWhatComesBack) {
  const std::string path = WriteScript(
      "# a comment, then a blank line\n"
      "\n"
      "send echo 0A0b\n"
      "wait\n"
      "send nobody\n"
      "wait\n"
      "send echo\r\n");
  Start({"--script", path}, {{"echo", &Echo}});
  ASSERT_TRUE(RunUntilClosed());
  EXPECT_EQ(lines(), (Lines{"message events 0a0b", "reply 1 ff0a0b", "reply 2",
                            "message events", "reply 3 ff"}));
}

TEST_F(ScriptPlayerTest, WaitHoldsLaterSendsUntilEarlierOnesAreAnswered) {
  struct Later {
    std::vector<std::thread>* threads;
  } later{&threads_};
  // Answers from another thread a while after the message came.
  auto answer_later = [](FlutterDesktopMessengerRef messenger,
                         const FlutterDesktopMessage* message, void* data) {
    const FlutterDesktopMessageResponseHandle* handle =
        message->response_handle;
    FlutterDesktopMessengerRef ref = FlutterDesktopMessengerAddRef(messenger);
    static_cast<Later*>(data)->threads->emplace_back([ref, handle] {
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      FlutterDesktopMessengerRef held = FlutterDesktopMessengerLock(ref);
      const uint8_t byte = 0x01;
      if (FlutterDesktopMessengerIsAvailable(held)) {
        FlutterDesktopMessengerSendResponse(held, handle, &byte, 1);
      }
      FlutterDesktopMessengerUnlock(held);
      FlutterDesktopMessengerRelease(ref);
    });
  };
  auto answer_now = [](FlutterDesktopMessengerRef messenger,
                       const FlutterDesktopMessage* message, void*) {
    const uint8_t byte = 0x02;
    FlutterDesktopMessengerSendResponse(messenger, message->response_handle,
                                        &byte, 1);
  };
  const std::string path = WriteScript(
      "send later\n"
      "wait\n"
      "send now\n");
  Start({"--script", path}, {{"later", answer_later}, {"now", answer_now}},
        &later);
  ASSERT_TRUE(RunUntilClosed());
  EXPECT_EQ(lines(), (Lines{"reply 1 01", "reply 2 02"}));
}

TEST_F(ScriptPlayerTest, WaitGivesUpWhenNoAnswerComesWithinTheTimeout) {
  engine_control::SetScriptWaitTimeout(std::chrono::milliseconds(100));
  auto never = [](FlutterDesktopMessengerRef, const FlutterDesktopMessage*,
                  void*) {};
  const std::string path = WriteScript(
      "send silent 00\n"
      "wait\n"
      "send echo 01\n");
  Start({"--script", path}, {{"silent", never}, {"echo", &Echo}});
  ASSERT_TRUE(RunUntilClosed());
  EXPECT_EQ(lines(), (Lines{"message events 01", "reply 2 ff01"}));
}

TEST_F(ScriptPlayerTest, ReportsLinesItCannotPlayAndGoesOn) {
  const std::string path = WriteScript(
      "send echo 0\n"
      "send echo zz\n"
      "sleep soon\n"
      "shout echo\n"
      "wait now\n"
      "sleep 1\n"
      "send echo 05\n");
  Start({"--script", path}, {{"echo", &Echo}});
  ASSERT_TRUE(RunUntilClosed());
  EXPECT_EQ(lines(), (Lines{"error 1 bad hex: 0", "error 2 bad hex: zz",
                            "error 3 bad milliseconds: soon",
                            "error 4 unknown command: shout echo",
                            "error 5 unknown command: wait now",
                            "message events 05", "reply 1 ff05"}));
}

TEST_F(ScriptPlayerTest, MissingScriptIsReportedAndTheWindowStillCloses) {
  const std::string path = testing::TempDir() + "no_such_engine_script.txt";
  Start({"--script", path}, {});
  ASSERT_TRUE(RunUntilClosed());
  EXPECT_EQ(lines(), Lines{"error 0 cannot open script " + path});
}

TEST_F(ScriptPlayerTest, WithoutAScriptTheEngineIdles) {
  Start({"--verbose"}, {{"echo", &Echo}});
  engine_control::RunMessagesUntil([] { return false; },
                                   std::chrono::milliseconds(100));
  EXPECT_FALSE(host_destroyed_);
  EXPECT_TRUE(lines().empty());
}

TEST_F(ScriptPlayerTest, EngineEndingMidScriptStopsThePlayer) {
  const std::string path = WriteScript(
      "send echo 01\n"
      "sleep 5000\n"
      "send echo 02\n");
  Start({"--script", path}, {{"echo", &Echo}});
  ASSERT_TRUE(engine_control::RunMessagesUntil(
      [&] { return lines().size() == 2; }, std::chrono::seconds(10)));
  EXPECT_EQ(engine_control::RunningScriptReaders(), 1);
  FlutterDesktopViewControllerDestroy(controller_);
  controller_ = nullptr;
  // The sleeping player wakes at once and ends without posting more.
  EXPECT_TRUE(engine_control::RunMessagesUntil(
      [] { return engine_control::RunningScriptReaders() == 0; },
      std::chrono::seconds(2)));
  engine_control::RunPendingMessages();
  EXPECT_EQ(lines(), (Lines{"message events 01", "reply 1 ff01"}));
  EXPECT_FALSE(host_destroyed_);
}

}  // namespace
