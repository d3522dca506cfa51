// Requests whose work goes wrong in a way no device record describes: a
// worker thread that cannot be started, and a job that throws. Each still
// gets exactly one answer, in the shape its method answers failures, and no
// exception reaches the messenger.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "channel/wpd_channel_handler.h"
#include "tests/channel/channel_test_util.h"

namespace snapferry {
namespace {

using channel_test::Args;
using channel_test::At;
using channel_test::EncodedCall;
using channel_test::KeysOf;
using channel_test::Reply;
using channel_test::Str;
using flutter::EncodableValue;
using flutter::ValueList;
using flutter::ValueMap;

constexpr char kUnanswered[] =
    "Warning: Failed to respond to a message. This is a memory leak.";
const EncodableValue kUnexpected(int64_t{-2147418113});  // E_UNEXPECTED

// One accepted request of every method that runs a job.
struct Request {
  const char* method;
  ValueMap arguments;
};

std::vector<Request> EveryJobMethod() {
  return {
      {"listDevices", {}},
      {"scanMedia", {{Str("id"), Str("d")}}},
      {"enumerateMedia", {{Str("id"), Str("d")}}},
      {"copyObject",
       {{Str("id"), Str("d")},
        {Str("objectId"), Str("o")},
        {Str("tempPath"), Str("never-written.bin")}}},
      {"canDelete", {{Str("id"), Str("d")}, {Str("objectId"), Str("o")}}},
      {"deleteObject", {{Str("id"), Str("d")}, {Str("objectId"), Str("o")}}},
      {"getThumbnail", {{Str("id"), Str("d")}, {Str("objectId"), Str("o")}}},
  };
}

// Throws something of a kind picked by `kind`, standard or not.
[[noreturn]] void ThrowKind(size_t kind) {
  switch (kind % 3) {
    case 0:
      throw std::runtime_error("broken job");
    case 1:
      throw std::bad_alloc();
    default:
      throw 42;
  }
}

class JobFailuresTest : public channel_test::HandlerTest {
 protected:
  int Deliver(const Request& request) {
    return messenger_.Deliver(
        kWpdChannelName, EncodedCall(request.method, Args(request.arguments)));
  }
};

TEST_F(JobFailuresTest, JobThatThrowsIsAnsweredAsItsMethodAnswersAFailure) {
  size_t kind = 0;
  std::vector<std::string> wrapped;
  handler_->SetTestSeams({nullptr, [&](const std::string& method, Job) -> Job {
                            wrapped.push_back(method);
                            return [kind = kind++]() -> Completion {
                              ThrowKind(kind);
                            };
                          }});

  const EncodableValue failed_op(ValueMap{
      {Str("status"), Str("error")},
      {Str("bytesWritten"), EncodableValue(int64_t{0})},
      {Str("hresult"), kUnexpected},
      {Str("error"), Str("Internal error")},
  });
  for (const Request& request : EveryJobMethod()) {
    const std::string method = request.method;
    SCOPED_TRACE(method);
    testing::internal::CaptureStderr();
    const int number = Deliver(request);
    ASSERT_TRUE(channel_test::PumpUntil(
        [&] { return messenger_.replies.count(number) == 1; }));
    const std::string diagnostics = testing::internal::GetCapturedStderr();
    EXPECT_NE(diagnostics.find("Error: A worker's job threw an exception"),
              std::string::npos)
        << diagnostics;
    EXPECT_EQ(diagnostics.find(kUnanswered), std::string::npos);

    const Reply reply = channel_test::DecodeReply(messenger_.replies[number]);
    if (method == "listDevices" || method == "enumerateMedia" ||
        method == "getThumbnail") {
      ASSERT_EQ(reply.kind, Reply::Kind::kError);
      EXPECT_EQ(reply.code, "wpd_error");
      EXPECT_EQ(reply.message, "Internal error");
      EXPECT_EQ(reply.details, kUnexpected);
      continue;
    }
    ASSERT_EQ(reply.kind, Reply::Kind::kSuccess);
    if (method == "canDelete") {
      EXPECT_TRUE(reply.value.IsNull());
    } else if (method == "scanMedia") {
      // Every key a scan answers, as a failed scan fills them.
      EXPECT_EQ(KeysOf(reply.value),
                (std::vector<std::string>{
                    "dcimFound", "error", "hresult", "others", "photos",
                    "screenshots", "sidecars", "status", "storageChildren",
                    "totalBytes", "videos"}));
      EXPECT_EQ(At(reply.value, "status"), Str("error"));
      EXPECT_EQ(At(reply.value, "hresult"), kUnexpected);
      EXPECT_EQ(At(reply.value, "error"), Str("Internal error"));
      EXPECT_EQ(At(reply.value, "dcimFound"), EncodableValue(false));
      EXPECT_EQ(At(reply.value, "storageChildren"),
                EncodableValue(ValueList{}));
      EXPECT_EQ(At(reply.value, "totalBytes"), EncodableValue(int64_t{0}));
    } else {
      EXPECT_EQ(reply.value, failed_op);
    }
  }
  EXPECT_EQ(wrapped.size(), EveryJobMethod().size());
}

TEST_F(JobFailuresTest, WorkerThatCannotStartIsAnsweredAtOnceWithThreadError) {
  const std::vector<std::function<void()>> refusals = {
      [] {
        throw std::system_error(
            std::make_error_code(std::errc::resource_unavailable_try_again));
      },
      [] { throw std::bad_alloc(); },
  };
  const Reply expected{Reply::Kind::kError, EncodableValue(), "thread_error",
                       "Could not start a worker thread", std::nullopt};
  for (size_t r = 0; r < refusals.size(); ++r) {
    int jobs_ran = 0;
    handler_->SetTestSeams({[&](std::function<void()>) { refusals[r](); },
                            [&](const std::string&, Job job) -> Job {
                              return [&jobs_ran, job]() {
                                ++jobs_ran;
                                return job();
                              };
                            }});
    for (const Request& request : EveryJobMethod()) {
      SCOPED_TRACE(std::string(request.method) + " refusal " +
                   std::to_string(r));
      testing::internal::CaptureStderr();
      const int number = Deliver(request);
      EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
      // Answered by the dispatch itself, before it returned.
      ASSERT_EQ(messenger_.replies.count(number), 1u);
      const Reply reply = channel_test::DecodeReply(messenger_.replies[number]);
      EXPECT_EQ(reply.kind, expected.kind);
      EXPECT_EQ(reply.code, expected.code);
      EXPECT_EQ(reply.message, expected.message);
      EXPECT_FALSE(reply.details.has_value());
    }
    EXPECT_EQ(jobs_ran, 0);
  }
  EXPECT_EQ(window_.reply_ready_messages(), 0);
}

}  // namespace
}  // namespace snapferry
