// Helpers for the channel plugin's tests: a top-level window that drains the
// handler's reply queue as the host's window does, a message pump that waits
// on conditions, one-shot signals between the test and workers, a messenger
// without an engine, and decoding of reply envelopes.

#ifndef SNAPFERRY_TESTS_CHANNEL_CHANNEL_TEST_UTIL_H_
#define SNAPFERRY_TESTS_CHANNEL_CHANNEL_TEST_UTIL_H_

#include <windows.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "channel/jobs.h"
#include "channel/wpd_channel_handler.h"
#include "messaging/binary_messenger.h"
#include "messaging/encodable_value.h"
#include "messaging/method_call.h"
#include "messaging/method_result.h"
#include "messaging/standard_method_codec.h"

namespace channel_test {

using Bytes = std::vector<uint8_t>;
using flutter::EncodableValue;
using flutter::ValueList;
using flutter::ValueMap;

// Generous: a wait that runs out means the behaviour is missing, not slow.
inline constexpr std::chrono::seconds kTimeout{30};

inline const flutter::StandardMethodCodec& Codec() {
  return flutter::StandardMethodCodec::SharedInstance();
}

inline EncodableValue Str(const char* text) {
  return EncodableValue(std::string(text));
}

inline std::unique_ptr<EncodableValue> Args(ValueMap map) {
  return std::make_unique<EncodableValue>(std::move(map));
}

inline Bytes EncodedCall(const std::string& method,
                         std::unique_ptr<EncodableValue> arguments = nullptr) {
  return *Codec().EncodeCall(flutter::MethodCall(method, std::move(arguments)));
}

// A reply envelope, decoded.
struct Reply {
  enum class Kind { kSuccess, kError, kNotImplemented, kUndecodable };
  Kind kind = Kind::kUndecodable;
  EncodableValue value;  // success value (null when none)
  std::string code;
  std::string message;
  std::optional<EncodableValue> details;
};

class DecodingResult : public flutter::MethodResult {
 public:
  explicit DecodingResult(Reply* reply) : reply_(reply) {}

 protected:
  void SuccessInternal(const EncodableValue* result) override {
    reply_->kind = Reply::Kind::kSuccess;
    if (result) reply_->value = *result;
  }
  void ErrorInternal(const std::string& code, const std::string& message,
                     const EncodableValue* details) override {
    reply_->kind = Reply::Kind::kError;
    reply_->code = code;
    reply_->message = message;
    if (details) reply_->details = *details;
  }
  void NotImplementedInternal() override {
    reply_->kind = Reply::Kind::kNotImplemented;
  }

 private:
  Reply* reply_;
};

inline Reply DecodeReply(const Bytes& bytes) {
  Reply reply;
  if (bytes.empty()) {
    reply.kind = Reply::Kind::kNotImplemented;
    return reply;
  }
  DecodingResult result(&reply);
  if (!Codec().DecodeEnvelope(bytes.data(), bytes.size(), &result)) {
    reply.kind = Reply::Kind::kUndecodable;
  }
  return reply;
}

// A value of the map `value` under `key`, or null when there is none.
inline EncodableValue At(const EncodableValue& value, const char* key) {
  const auto* map = std::get_if<ValueMap>(&value);
  if (map == nullptr) return EncodableValue();
  auto found = map->find(Str(key));
  return found == map->end() ? EncodableValue() : found->second;
}

inline std::vector<std::string> KeysOf(const EncodableValue& value) {
  std::vector<std::string> keys;
  if (const auto* map = std::get_if<ValueMap>(&value)) {
    for (const auto& entry : *map) {
      const auto* key = std::get_if<std::string>(&entry.first);
      keys.push_back(key ? *key : std::string("<not a string>"));
    }
  }
  return keys;
}

// A one-shot flag that a worker sets and the test waits for (or the other
// way round).
class Signal {
 public:
  void Set() {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = true;
    changed_.notify_all();
  }
  bool IsSet() {
    std::lock_guard<std::mutex> lock(mutex_);
    return set_;
  }
  bool Wait(std::chrono::milliseconds timeout = kTimeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return set_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool set_ = false;
};

// Sets its signal when destroyed: put one into a job or a completion to
// learn when that callable is gone.
class SetOnDestroy {
 public:
  explicit SetOnDestroy(std::shared_ptr<Signal> signal)
      : signal_(std::move(signal)) {}
  ~SetOnDestroy() { signal_->Set(); }

 private:
  std::shared_ptr<Signal> signal_;
};

// Dispatches the calling thread's window messages until `done` holds.
inline bool PumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = kTimeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    MSG message;
    if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  return true;
}

// Dispatches what is waiting now.
inline void PumpPending() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// The top-level window that the handler wakes: like the host's window, it
// answers kReplyReadyMessage by draining the handler's queue, and counts
// the messages so tests can tell which drain ran what.
class DrainWindow {
 public:
  DrainWindow() {
    static const bool registered = [] {
      WNDCLASSW window_class = {};
      window_class.lpfnWndProc = &DrainWindow::WindowProc;
      window_class.hInstance = GetModuleHandleW(nullptr);
      window_class.lpszClassName = kClassName;
      return RegisterClassW(&window_class) != 0;
    }();
    if (!registered) return;
    hwnd_ = CreateWindowExW(0, kClassName, L"drain", WS_OVERLAPPEDWINDOW,
                            CW_USEDEFAULT, CW_USEDEFAULT, 100, 100, nullptr,
                            nullptr, GetModuleHandleW(nullptr), nullptr);
    if (hwnd_ != nullptr) {
      SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
  }
  ~DrainWindow() { Destroy(); }

  DrainWindow(const DrainWindow&) = delete;
  DrainWindow& operator=(const DrainWindow&) = delete;

  void Destroy() {
    if (hwnd_ != nullptr) DestroyWindow(hwnd_);
    hwnd_ = nullptr;
  }

  HWND hwnd() const { return hwnd_; }
  void set_handler(snapferry::WpdChannelHandler* handler) {
    handler_ = handler;
  }
  // kReplyReadyMessage messages received so far; during a drain, the number
  // of the message being handled.
  int reply_ready_messages() const { return reply_ready_messages_; }

 private:
  static constexpr const wchar_t* kClassName = L"SnapferryTestDrainWindow";

  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wparam,
                                     LPARAM lparam) {
    auto* self =
        reinterpret_cast<DrainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self != nullptr && message == snapferry::kReplyReadyMessage) {
      ++self->reply_ready_messages_;
      if (self->handler_ != nullptr) self->handler_->DrainReplyQueue();
      return 0;
    }
    if (self != nullptr && message == WM_DEVICECHANGE) {
      if (self->handler_ != nullptr) {
        self->handler_->HandleDeviceChange(wparam, lparam);
      }
      return TRUE;
    }
    return DefWindowProcW(hwnd, message, wparam, lparam);
  }

  HWND hwnd_ = nullptr;
  snapferry::WpdChannelHandler* handler_ = nullptr;
  int reply_ready_messages_ = 0;
};

// A messenger without an engine: it keeps the registered channel handlers,
// delivers messages to them on the calling thread and records replies and
// sent messages.
class FakeMessenger : public flutter::BinaryMessenger {
 public:
  struct Sent {
    std::string channel;
    Bytes bytes;
  };

  void Send(const std::string& channel, const uint8_t* message, size_t size,
            flutter::ReplyCallback) override {
    sent.push_back({channel, Bytes(message, message + size)});
  }
  void RegisterChannelHandler(const std::string& channel,
                              flutter::ChannelMessageHandler handler) override {
    if (handler) {
      handlers[channel] = std::move(handler);
    } else {
      handlers.erase(channel);
    }
  }

  // Delivers `bytes`; returns the message's number, or 0 when the channel
  // has no handler. Its reply lands in replies[number].
  int Deliver(const std::string& channel, const Bytes& bytes) {
    auto found = handlers.find(channel);
    if (found == handlers.end()) return 0;
    const int number = ++last_number_;
    found->second(bytes.data(), bytes.size(),
                  [this, number](const uint8_t* reply, size_t size) {
                    replies[number] =
                        reply ? Bytes(reply, reply + size) : Bytes();
                  });
    return number;
  }

  std::map<std::string, flutter::ChannelMessageHandler> handlers;
  std::map<int, Bytes> replies;
  std::vector<Sent> sent;

 private:
  int last_number_ = 0;
};

// A handler on a messenger without an engine, woken through a window that
// drains its queue.
class HandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(window_.hwnd(), nullptr);
    handler_ = std::make_unique<snapferry::WpdChannelHandler>(&messenger_,
                                                              window_.hwnd());
    window_.set_handler(handler_.get());
  }
  void TearDown() override {
    window_.set_handler(nullptr);
    handler_.reset();
  }

  DrainWindow window_;
  FakeMessenger messenger_;
  std::unique_ptr<snapferry::WpdChannelHandler> handler_;
};

}  // namespace channel_test

#endif  // SNAPFERRY_TESTS_CHANNEL_CHANNEL_TEST_UTIL_H_
