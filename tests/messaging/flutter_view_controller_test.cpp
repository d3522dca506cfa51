// The view controller: engine hand-over, the view, frames and the top-level
// window procedure.

#include "messaging/flutter_view_controller.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/engine/engine_control.h"

namespace flutter {
namespace {

class FlutterViewControllerTest : public ::testing::Test {
 protected:
  void SetUp() override { engine_control::Reset(); }
  void TearDown() override {
    engine_control::RunPendingMessages();
    EXPECT_EQ(engine_control::LiveEngineCount(), 0);
    EXPECT_EQ(engine_control::LiveControllerCount(), 0);
    engine_control::Reset();
  }
};

TEST_F(FlutterViewControllerTest,
       DestructionEndsTheEngineThroughTheController) {
  auto controller =
      std::make_unique<FlutterViewController>(640, 480, EngineProject(L"data"));
  ASSERT_NE(controller->view(), nullptr);
  ASSERT_NE(controller->engine(), nullptr);
  std::shared_ptr<FlutterEngine> engine = controller->engine();
  controller.reset();

  const auto counts = engine_control::GetCounts();
  EXPECT_EQ(counts.controller_create_calls, 1);
  EXPECT_EQ(counts.controller_destroy_calls, 1);
  EXPECT_EQ(counts.engine_destroy_calls, 0);
  EXPECT_EQ(counts.engines_destroyed, 1);
  // The engine object outlives the controller without ending the engine again.
  engine.reset();
  EXPECT_EQ(engine_control::GetCounts().engine_destroy_calls, 0);
}

TEST_F(FlutterViewControllerTest, ViewIsTheEnginesChildWindowOfTheGivenSize) {
  FlutterViewController controller(300, 200, EngineProject(L"data"));
  ASSERT_NE(controller.view(), nullptr);
  HWND window = controller.view()->ViewWindow();
  ASSERT_NE(window, nullptr);
  RECT client;
  ASSERT_TRUE(GetClientRect(window, &client));
  EXPECT_EQ(client.right, 300);
  EXPECT_EQ(client.bottom, 200);
}

TEST_F(FlutterViewControllerTest, FailedCreationLeavesNoViewAndSaysSo) {
  engine_control::FailViewControllerCreation(true);
  testing::internal::CaptureStderr();
  auto controller =
      std::make_unique<FlutterViewController>(640, 480, EngineProject(L"data"));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Failed to create view controller.\n");
  EXPECT_EQ(controller->view(), nullptr);
  // Messages still reach a failed controller; nothing is asked of the engine.
  EXPECT_EQ(controller->HandleTopLevelWindowProc(nullptr, WM_SIZE, 0, 0),
            std::nullopt);
  controller->ForceRedraw();
  controller.reset();
  EXPECT_EQ(engine_control::GetCounts().controller_destroy_calls, 0);
  EXPECT_EQ(engine_control::GetCounts().engine_destroy_calls, 0);
}

TEST_F(FlutterViewControllerTest, NextFrameCallableFiresOncePerRegistration) {
  FlutterViewController controller(64, 64, EngineProject(L"data"));
  int shown = 0;
  controller.engine()->SetNextFrameCallback([&] { ++shown; });
  controller.ForceRedraw();
  engine_control::RunPendingMessages();
  EXPECT_EQ(shown, 1);

  controller.ForceRedraw();
  engine_control::RunPendingMessages();
  EXPECT_EQ(shown, 1);

  // A callable may ask for the frame after the next one.
  controller.engine()->SetNextFrameCallback([&] {
    ++shown;
    controller.engine()->SetNextFrameCallback([&] { shown += 10; });
  });
  controller.ForceRedraw();
  engine_control::RunPendingMessages();
  controller.ForceRedraw();
  engine_control::RunPendingMessages();
  EXPECT_EQ(shown, 12);
}

TEST_F(FlutterViewControllerTest, OnlyMessagesTheEngineTakesHaveAResult) {
  FlutterViewController controller(64, 64, EngineProject(L"data"));
  EXPECT_EQ(controller.HandleTopLevelWindowProc(nullptr, WM_FONTCHANGE, 0, 0),
            std::nullopt);
  engine_control::SetTopLevelWindowProcHook(
      [](HWND, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (message == WM_FONTCHANGE) return 17;
        return std::nullopt;
      });
  EXPECT_EQ(controller.HandleTopLevelWindowProc(nullptr, WM_FONTCHANGE, 0, 0),
            std::optional<LRESULT>(17));
  EXPECT_EQ(controller.HandleTopLevelWindowProc(nullptr, WM_SIZE, 0, 0),
            std::nullopt);
}

}  // namespace
}  // namespace flutter
