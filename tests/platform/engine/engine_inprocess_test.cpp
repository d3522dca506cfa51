// The in-process engine library through its C API, as the messaging runtime
// and the host call it.

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/engine/engine_api.h"
#include "platform/engine/engine_control.h"
#include "platform/engine/file_selector_api.h"
#include "platform/engine/inprocess/interface.h"

namespace {

using Bytes = std::vector<uint8_t>;

// What a raw message callback saw, and how it answers.
struct Receiver {
  struct Seen {
    std::string channel;
    Bytes bytes;
    size_t struct_size = 0;
    std::thread::id thread;
  };
  std::vector<Seen> seen;
  std::vector<const FlutterDesktopMessageResponseHandle*> handles;
  bool answer = true;
  Bytes answer_bytes = {0xAA};
  // Runs after answering, inside the callback.
  std::function<void()> then;

  static void Callback(FlutterDesktopMessengerRef messenger,
                       const FlutterDesktopMessage* message, void* user_data) {
    auto* self = static_cast<Receiver*>(user_data);
    self->seen.push_back(
        {message->channel,
         Bytes(message->message, message->message + message->message_size),
         message->struct_size, std::this_thread::get_id()});
    self->handles.push_back(message->response_handle);
    if (self->answer) {
      FlutterDesktopMessengerSendResponse(messenger, message->response_handle,
                                          self->answer_bytes.data(),
                                          self->answer_bytes.size());
    }
    if (self->then) self->then();
  }
};

class StandInEngineTest : public ::testing::Test {
 protected:
  void SetUp() override { engine_control::Reset(); }

  void TearDown() override {
    if (controller_ != nullptr) {
      FlutterDesktopViewControllerDestroy(controller_);
    } else if (engine_ != nullptr) {
      FlutterDesktopEngineDestroy(engine_);
    }
    engine_control::RunPendingMessages();
    EXPECT_EQ(engine_control::LiveEngineCount(), 0);
    EXPECT_EQ(engine_control::LiveControllerCount(), 0);
    engine_control::Reset();
  }

  FlutterDesktopEngineRef CreateEngine() {
    FlutterDesktopEngineProperties properties = {};
    properties.assets_path = L"data\\flutter_assets";
    properties.icu_data_path = L"data\\icudtl.dat";
    properties.aot_library_path = L"data\\app.so";
    properties.entry_point = "";
    engine_ = FlutterDesktopEngineCreate(&properties);
    return engine_;
  }

  // Starts the engine under a view controller, which then owns it.
  FlutterDesktopViewControllerRef CreateController() {
    if (engine_ == nullptr) CreateEngine();
    controller_ = FlutterDesktopViewControllerCreate(320, 200, engine_);
    if (controller_ == nullptr) engine_ = nullptr;
    return controller_;
  }

  void Listen(const char* channel, Receiver* receiver) {
    FlutterDesktopMessengerSetCallback(
        FlutterDesktopEngineGetMessenger(engine_), channel, &Receiver::Callback,
        receiver);
  }

  FlutterDesktopEngineRef engine_ = nullptr;
  FlutterDesktopViewControllerRef controller_ = nullptr;
};

TEST_F(StandInEngineTest, DeliversMessagesOnItsOwnThreadOnlyThroughTheLoop) {
  ASSERT_NE(CreateEngine(), nullptr);
  Receiver receiver;
  Listen("chan", &receiver);

  int first = 0;
  int second = 0;
  std::thread sender([&] {
    first = engine_control::DeliverMessage(engine_, "chan", {1, 2, 3});
    second = engine_control::DeliverMessage(engine_, "chan", {});
  });
  sender.join();
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 2);
  EXPECT_TRUE(receiver.seen.empty()) << "delivered outside the message loop";

  engine_control::RunPendingMessages();
  ASSERT_EQ(receiver.seen.size(), 2u);
  EXPECT_EQ(receiver.seen[0].channel, "chan");
  EXPECT_EQ(receiver.seen[0].bytes, (Bytes{1, 2, 3}));
  EXPECT_EQ(receiver.seen[0].struct_size, sizeof(FlutterDesktopMessage));
  EXPECT_EQ(receiver.seen[0].thread, std::this_thread::get_id());
  EXPECT_TRUE(receiver.seen[1].bytes.empty());
  EXPECT_NE(receiver.handles[0], receiver.handles[1]);
  EXPECT_EQ(engine_control::ResponseTo(engine_, first), Bytes{0xAA});
  EXPECT_EQ(engine_control::ResponseTo(engine_, second), Bytes{0xAA});
}

TEST_F(StandInEngineTest, AnswersEmptyWhereNobodyListensAndAfterUnregistering) {
  ASSERT_NE(CreateEngine(), nullptr);
  EXPECT_EQ(engine_control::Call(engine_, "nobody", {7}), Bytes{});

  Receiver receiver;
  Listen("chan", &receiver);
  EXPECT_EQ(engine_control::RegisteredChannels(engine_),
            std::vector<std::string>{"chan"});
  FlutterDesktopMessengerSetCallback(FlutterDesktopEngineGetMessenger(engine_),
                                     "chan", nullptr, nullptr);
  EXPECT_TRUE(engine_control::RegisteredChannels(engine_).empty());
  EXPECT_EQ(engine_control::Call(engine_, "chan", {7}), Bytes{});
  EXPECT_TRUE(receiver.seen.empty());
}

TEST_F(StandInEngineTest, KeepsOnlyTheFirstResponseToAHandle) {
  ASSERT_NE(CreateEngine(), nullptr);
  Receiver receiver;
  Listen("chan", &receiver);
  const int number = engine_control::DeliverMessage(engine_, "chan", {1});
  engine_control::RunPendingMessages();
  const uint8_t again = 0x55;
  FlutterDesktopMessengerSendResponse(FlutterDesktopEngineGetMessenger(engine_),
                                      receiver.handles[0], &again, 1);
  EXPECT_EQ(engine_control::ResponseTo(engine_, number), Bytes{0xAA});
  EXPECT_EQ(engine_control::GetCounts().invalid_responses, 1);
}

TEST_F(StandInEngineTest, MessengerOutlivesItsEngineAndDropsLateResponses) {
  ASSERT_NE(CreateEngine(), nullptr);
  Receiver receiver;
  receiver.answer = false;
  Listen("chan", &receiver);
  engine_control::DeliverMessage(engine_, "chan", {1});
  engine_control::RunPendingMessages();
  ASSERT_EQ(receiver.handles.size(), 1u);

  FlutterDesktopMessengerRef messenger =
      FlutterDesktopMessengerAddRef(FlutterDesktopEngineGetMessenger(engine_));
  EXPECT_TRUE(FlutterDesktopMessengerIsAvailable(messenger));
  EXPECT_TRUE(FlutterDesktopEngineDestroy(engine_));
  engine_ = nullptr;

  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(messenger));
  EXPECT_EQ(FlutterDesktopMessengerLock(messenger), messenger);
  FlutterDesktopMessengerSendResponse(messenger, receiver.handles[0], nullptr,
                                      0);
  FlutterDesktopMessengerUnlock(messenger);
  EXPECT_FALSE(FlutterDesktopMessengerSend(messenger, "chan", nullptr, 0));
  FlutterDesktopMessengerRelease(messenger);
  EXPECT_EQ(engine_control::GetCounts().late_responses, 1);
  EXPECT_EQ(engine_control::GetCounts().invalid_responses, 0);
}

TEST_F(StandInEngineTest, ResponseFromAnotherThreadWaitsForTheMessengerLock) {
  ASSERT_NE(CreateEngine(), nullptr);
  Receiver receiver;
  receiver.answer = false;
  Listen("chan", &receiver);
  const int number = engine_control::DeliverMessage(engine_, "chan", {1});
  engine_control::RunPendingMessages();

  FlutterDesktopMessengerRef messenger =
      FlutterDesktopEngineGetMessenger(engine_);
  FlutterDesktopMessengerLock(messenger);
  bool sent = false;
  std::thread responder([&] {
    FlutterDesktopMessengerRef held = FlutterDesktopMessengerLock(messenger);
    const uint8_t byte = 9;
    FlutterDesktopMessengerSendResponse(held, receiver.handles[0], &byte, 1);
    sent = true;
    FlutterDesktopMessengerUnlock(held);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(engine_control::ResponseTo(engine_, number).has_value());
  FlutterDesktopMessengerUnlock(messenger);
  responder.join();
  EXPECT_TRUE(sent);
  EXPECT_EQ(engine_control::ResponseTo(engine_, number), Bytes{9});
}

TEST_F(StandInEngineTest, RecordsWhatTheProgramSendsAndAnswersQuestionsEmpty) {
  ASSERT_NE(CreateEngine(), nullptr);
  FlutterDesktopMessengerRef messenger =
      FlutterDesktopEngineGetMessenger(engine_);
  const uint8_t bytes[] = {4, 5};
  EXPECT_TRUE(FlutterDesktopMessengerSend(messenger, "events", bytes, 2));

  struct Reply {
    int calls = 0;
    size_t size = 99;
  } reply;
  auto on_reply = [](const uint8_t*, size_t size, void* user_data) {
    auto* seen = static_cast<Reply*>(user_data);
    ++seen->calls;
    seen->size = size;
  };
  EXPECT_TRUE(FlutterDesktopMessengerSendWithReply(messenger, "ask", bytes, 1,
                                                   on_reply, &reply));
  EXPECT_EQ(reply.calls, 0) << "a reply must come later, not inside the call";
  engine_control::RunPendingMessages();
  EXPECT_EQ(reply.calls, 1);
  EXPECT_EQ(reply.size, 0u);

  engine_control::RefuseSendWithReply(true);
  EXPECT_FALSE(FlutterDesktopMessengerSendWithReply(messenger, "ask", bytes, 1,
                                                    on_reply, &reply));
  engine_control::RunPendingMessages();
  EXPECT_EQ(reply.calls, 1);

  const auto sent = engine_control::SentMessages(engine_);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].channel, "events");
  EXPECT_EQ(sent[0].bytes, (Bytes{4, 5}));
  EXPECT_FALSE(sent[0].wants_reply);
  EXPECT_EQ(sent[1].channel, "ask");
  EXPECT_EQ(sent[1].bytes, Bytes{4});
  EXPECT_TRUE(sent[1].wants_reply);
}

TEST_F(StandInEngineTest, CopiesThePropertiesItIsGiven) {
  std::wstring assets = L"base\\flutter_assets";
  std::string first = "--one";
  std::string second = "two";
  const char* argv[] = {first.c_str(), second.c_str()};
  FlutterDesktopEngineProperties properties = {};
  properties.assets_path = assets.c_str();
  properties.icu_data_path = L"icu";
  properties.aot_library_path = L"aot";
  properties.entry_point = "";
  properties.entry_point_argc = 2;
  properties.entry_point_argv = argv;
  properties.engine_option_2 = 7;
  engine_ = FlutterDesktopEngineCreate(&properties);
  ASSERT_NE(engine_, nullptr);
  assets.assign(assets.size(), L'x');
  first.assign(first.size(), 'x');

  const auto seen = engine_control::LastProperties();
  ASSERT_TRUE(seen.has_value());
  EXPECT_EQ(seen->assets_path, L"base\\flutter_assets");
  EXPECT_EQ(seen->icu_data_path, L"icu");
  EXPECT_EQ(seen->aot_library_path, L"aot");
  EXPECT_FALSE(seen->entry_point_null);
  EXPECT_EQ(seen->argument_count, 2);
  EXPECT_FALSE(seen->argument_array_null);
  EXPECT_EQ(seen->arguments, (std::vector<std::string>{"--one", "two"}));
  EXPECT_EQ(seen->engine_options[0], 0);
  EXPECT_EQ(seen->engine_options[1], 7);
  EXPECT_EQ(engine_control::LatestEngine(), engine_);
}

TEST_F(StandInEngineTest, FailsCreationWhenAsked) {
  engine_control::FailEngineCreation(true);
  EXPECT_EQ(CreateEngine(), nullptr);
  EXPECT_EQ(engine_control::GetCounts().engine_create_calls, 1);
  EXPECT_EQ(engine_control::LatestEngine(), nullptr);
  engine_control::FailEngineCreation(false);

  engine_control::FailViewControllerCreation(true);
  EXPECT_EQ(CreateController(), nullptr);
  // The engine was handed over with the call and ends with the failure.
  EXPECT_EQ(engine_control::LiveEngineCount(), 0);
  EXPECT_EQ(engine_control::GetCounts().engines_destroyed, 1);
}

TEST_F(StandInEngineTest, ViewIsAChildWindowThatEndsWithItsController) {
  ASSERT_NE(CreateController(), nullptr);
  HWND view = FlutterDesktopViewGetHWND(
      FlutterDesktopViewControllerGetView(controller_));
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(IsWindow(view));
  EXPECT_NE(GetParent(view), nullptr);
  EXPECT_TRUE(GetWindowLongPtrW(view, GWL_STYLE) & WS_CHILD);
  RECT client;
  ASSERT_TRUE(GetClientRect(view, &client));
  EXPECT_EQ(client.right - client.left, 320);
  EXPECT_EQ(client.bottom - client.top, 200);

  FlutterDesktopViewControllerDestroy(controller_);
  controller_ = nullptr;
  engine_ = nullptr;
  EXPECT_FALSE(IsWindow(view));
  const auto counts = engine_control::GetCounts();
  EXPECT_EQ(counts.controller_destroy_calls, 1);
  EXPECT_EQ(counts.engine_destroy_calls, 0);
  EXPECT_EQ(counts.engines_destroyed, 1);
}

TEST_F(StandInEngineTest, NextFrameCallbackFiresOnceAfterARedraw) {
  ASSERT_NE(CreateController(), nullptr);
  int fired = 0;
  auto callback = [](void* user_data) { ++*static_cast<int*>(user_data); };
  FlutterDesktopEngineSetNextFrameCallback(engine_, callback, &fired);
  engine_control::RunPendingMessages();
  EXPECT_EQ(fired, 0) << "no frame was asked for";

  FlutterDesktopViewControllerForceRedraw(controller_);
  EXPECT_EQ(fired, 0) << "frames are drawn by the message loop";
  engine_control::RunPendingMessages();
  EXPECT_EQ(fired, 1);

  FlutterDesktopViewControllerForceRedraw(controller_);
  engine_control::RunPendingMessages();
  EXPECT_EQ(fired, 1);
  EXPECT_EQ(engine_control::GetCounts().frames_drawn, 2);
}

TEST_F(StandInEngineTest, TopLevelWindowProcConsumesOnlyWhatTheHookTakes) {
  ASSERT_NE(CreateController(), nullptr);
  LRESULT result = 123;
  EXPECT_FALSE(FlutterDesktopViewControllerHandleTopLevelWindowProc(
      controller_, nullptr, WM_FONTCHANGE, 0, 0, &result));
  EXPECT_EQ(result, 123);

  std::vector<UINT> offered;
  engine_control::SetTopLevelWindowProcHook(
      [&](HWND, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
        offered.push_back(message);
        if (message == WM_FONTCHANGE) return 42;
        return std::nullopt;
      });
  EXPECT_FALSE(FlutterDesktopViewControllerHandleTopLevelWindowProc(
      controller_, nullptr, WM_SIZE, 0, 0, &result));
  EXPECT_TRUE(FlutterDesktopViewControllerHandleTopLevelWindowProc(
      controller_, nullptr, WM_FONTCHANGE, 0, 0, &result));
  EXPECT_EQ(result, 42);
  EXPECT_EQ(offered, (std::vector<UINT>{WM_SIZE, WM_FONTCHANGE}));
}

TEST_F(StandInEngineTest, GivesOneRegistrarPerPluginAndRecordsFileSelector) {
  ASSERT_NE(CreateEngine(), nullptr);
  FlutterDesktopPluginRegistrarRef a =
      FlutterDesktopEngineGetPluginRegistrar(engine_, "FileSelectorWindows");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(
      FlutterDesktopEngineGetPluginRegistrar(engine_, "FileSelectorWindows"),
      a);
  EXPECT_NE(FlutterDesktopEngineGetPluginRegistrar(engine_, "Other"), a);
  FileSelectorWindowsRegisterWithRegistrar(a);
  EXPECT_EQ(engine_control::FileSelectorRegistrations(engine_),
            std::vector<std::string>{"FileSelectorWindows"});
}

TEST_F(StandInEngineTest, EngineShutDownByACallbackRunsNoMoreOfItsWork) {
  ASSERT_NE(CreateController(), nullptr);
  Receiver receiver;
  receiver.then = [&] {
    FlutterDesktopViewControllerDestroy(controller_);
    controller_ = nullptr;
    engine_ = nullptr;
  };
  FlutterDesktopEngineRef engine = engine_;
  Listen("chan", &receiver);
  engine_control::DeliverMessage(engine, "chan", {1});
  engine_control::DeliverMessage(engine, "chan", {2});
  engine_control::RunPendingMessages();
  EXPECT_EQ(receiver.seen.size(), 1u);
  EXPECT_EQ(engine_control::GetCounts().engines_destroyed, 1);
}

TEST_F(StandInEngineTest, ReportsTheChosenMonitorDpiElseTheSystems) {
  engine_control::SetMonitorDpi(144);
  EXPECT_EQ(FlutterDesktopGetDpiForMonitor(nullptr), 144u);
  engine_control::SetMonitorDpi(0);
  EXPECT_EQ(FlutterDesktopGetDpiForMonitor(nullptr), GetDpiForSystem());
  FlutterDesktopResyncOutputStreams();
  EXPECT_EQ(engine_control::GetCounts().output_resyncs, 1);
}

// The importer's way to start an engine: no view, the interface set as the
// default starts once and can talk to the program at once.
TEST_F(StandInEngineTest, RunsWithoutAViewOnceAndStartsTheDefaultInterface) {
  struct Counting : engine_inprocess::EngineInterface {
    Counting(engine_inprocess::InterfaceHost& host, int* starts)
        : host(host), starts(starts) {}
    void Start() override {
      ++*starts;
      host.SendToProgram("probe", {7}, [](const Bytes&) {});
    }
    void OnProgramMessage(const std::string&, const Bytes&) override {}
    engine_inprocess::InterfaceHost& host;
    int* starts;
  };
  int starts = 0;
  engine_inprocess::SetDefaultInterface(
      [&starts](const std::vector<std::string>&,
                engine_inprocess::InterfaceHost& host) {
        return std::make_unique<Counting>(host, &starts);
      });
  EXPECT_FALSE(FlutterDesktopEngineRun(nullptr, nullptr));
  ASSERT_NE(CreateEngine(), nullptr);
  Receiver receiver;
  Listen("probe", &receiver);
  EXPECT_TRUE(FlutterDesktopEngineRun(engine_, nullptr));
  EXPECT_FALSE(FlutterDesktopEngineRun(engine_, nullptr));
  EXPECT_EQ(starts, 1);
  engine_control::RunPendingMessages();
  ASSERT_EQ(receiver.seen.size(), 1u);
  EXPECT_EQ(receiver.seen[0].bytes, Bytes({7}));
  engine_inprocess::SetDefaultInterface(nullptr);
}

}  // namespace
