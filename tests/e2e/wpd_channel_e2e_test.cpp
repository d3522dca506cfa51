// Requests as bytes into the in-process engine, through the dispatcher, the
// workers and the reply queue drained by the top-level window, against
// simulated devices, and out again as reply and event bytes.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/engine/engine_control.h"
#include "tests/e2e/e2e_test_util.h"
#include "wpd/device_connection.h"

namespace e2e {
namespace {

using channel_test::Args;
using channel_test::At;
using channel_test::Codec;
using channel_test::DecodeReply;
using channel_test::KeysOf;
using channel_test::PumpUntil;
using channel_test::Str;
using flutter::ValueList;
using flutter::ValueMap;
using wpd_sim::ContentType;

constexpr wchar_t kPhoneW[] = L"\\\\?\\usb#vid_05ac&pid_12a8#phone#{6ac27878}";
constexpr char kPhone[] = "\\\\?\\usb#vid_05ac&pid_12a8#phone#{6ac27878}";
// Hands out 16 bytes per read, so copies of its huge files run until they
// are cancelled.
constexpr wchar_t kSlowPadW[] = L"\\\\?\\usb#vid_05ac&pid_12ab#pad#{6ac27878}";
constexpr char kSlowPad[] = "\\\\?\\usb#vid_05ac&pid_12ab#pad#{6ac27878}";
constexpr wchar_t kCameraW[] = L"\\\\?\\usb#vid_04a9&pid_3218#cam#{6ac27878}";
constexpr char kCamera[] = "\\\\?\\usb#vid_04a9&pid_3218#cam#{6ac27878}";

constexpr uint64_t kMovieSize = 300000;
// The start and end of a JPEG around a few bytes.
const std::string kThumbnail("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\xFF\xD9", 14);
constexpr uint64_t kEndless = uint64_t{1} << 40;

wpd_sim::Fixture Devices() {
  wpd_sim::Fixture fixture;
  auto& phone = fixture.AddDevice(kPhoneW)
                    .FriendlyName(L"Anna")
                    .Manufacturer(L"Apple Inc.")
                    .Description(L"Apple iPhone");
  phone.AddStorage(L"s1", L"Internal Storage");
  phone.AddFolder(L"dcim", L"s1", L"DCIM");
  phone.AddFolder(L"f100", L"dcim", L"100APPLE");
  phone
      .AddPatternFile(L"img1", L"f100", L"IMG_0001.HEIC", ContentType::kImage,
                      3000)
      .CanDelete(true)
      .Thumbnail(kThumbnail);
  phone
      .AddPatternFile(L"mov1", L"f100", L"IMG_0002.MOV", ContentType::kVideo,
                      kMovieSize)
      .CanDelete(false);
  phone.AddFile(L"empty", L"f100", L"IMG_0003.JPG", ContentType::kImage, "");
  phone
      .AddPatternFile(L"locked", L"f100", L"IMG_0004.JPG", ContentType::kImage,
                      10)
      .Fail(wpd_sim::Call::kDelete, E_ACCESSDENIED)
      .ThumbnailPattern((1 << 20) + 1);
  phone.AddFolder(L"dl", L"s1", L"Downloads");
  phone.AddPatternFile(L"pdf", L"dl", L"manual.pdf", ContentType::kGeneric,
                       500);
  // Its Delete is answered as done and does nothing.
  phone.AddPatternFile(L"stuck", L"dl", L"notes.txt", ContentType::kGeneric, 5)
      .DeleteAnswer(S_OK, true);

  auto& pad = fixture.AddDevice(kSlowPadW)
                  .FriendlyName(L"Kitchen")
                  .Manufacturer(L"Apple Inc.")
                  .Description(L"Apple iPad");
  pad.max_read_size = 16;
  pad.AddStorage(L"s1", L"Internal Storage");
  pad.AddPatternFile(L"endless1", L"s1", L"A.MOV", ContentType::kVideo,
                     kEndless);
  pad.AddPatternFile(L"endless2", L"s1", L"B.MOV", ContentType::kVideo,
                     kEndless);
  pad.AddPatternFile(L"slow", L"s1", L"C.MOV", ContentType::kVideo, 100000);

  fixture.AddDevice(kCameraW)
      .FriendlyName(L"PowerShot")
      .Manufacturer(L"Canon Inc.")
      .Description(L"Digital camera")
      .OpenResult(E_ACCESSDENIED);
  return fixture;
}

EncodableValue I64(int64_t value) { return EncodableValue(value); }

// A copy's map also carries "objectSize" when it read the object's size
// (`object_size` 0 or more).
EncodableValue OpMap(const char* status, int64_t bytes, int64_t hresult,
                     const char* error, int64_t object_size = -1) {
  ValueMap map{{Str("status"), Str(status)},
               {Str("bytesWritten"), I64(bytes)},
               {Str("hresult"), I64(hresult)},
               {Str("error"), Str(error)}};
  if (object_size >= 0) map[Str("objectSize")] = I64(object_size);
  return EncodableValue(std::move(map));
}

Bytes SuccessBytes(const EncodableValue* value) {
  return *Codec().EncodeSuccessEnvelope(value);
}

std::string FileContent(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
}

// The simulator's pattern: byte i is i mod 251.
std::string Pattern(uint64_t size) {
  std::string bytes(size, '\0');
  for (uint64_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i % 251);
  return bytes;
}

// Per copy: bytes never go down, every event names the total, and
// bytesWritten of the reply covers the last event.
void ExpectOrderedProgress(const std::vector<EncodableValue>& events,
                           int64_t total) {
  int64_t previous = -1;
  for (const EncodableValue& event : events) {
    EXPECT_EQ(KeysOf(event),
              (std::vector<std::string>{"bytes", "objectId", "total"}));
    const int64_t bytes = std::get<int64_t>(At(event, "bytes"));
    EXPECT_GE(bytes, previous);
    previous = bytes;
    EXPECT_EQ(At(event, "total"), I64(total));
  }
}

class WpdChannelEndToEndTest : public EndToEndTest {
 protected:
  void SetUp() override {
    EndToEndTest::SetUp();
    if (HasFatalFailure()) return;
    StartDevices(Devices());
  }

  // Index in the recorder's timeline of the reply to a call whose
  // "objectId" argument is `object_id`, or -1.
  int ReplyIndexFor(const std::string& method, const std::string& object_id) {
    const auto& timeline = recorder_->timeline;
    for (size_t i = 0; i < timeline.size(); ++i) {
      if (timeline[i].is_event) continue;
      auto call = Codec().DecodeCall(timeline[i].request.data(),
                                     timeline[i].request.size());
      if (call && call->method_name() == method &&
          snapferry::GetStringArgument(call->arguments(), "objectId") ==
              object_id) {
        return static_cast<int>(i);
      }
    }
    return -1;
  }
  // Index of the last event of `object_id` in the timeline, or -1.
  int LastEventIndexFor(const std::string& object_id) {
    const auto& timeline = recorder_->timeline;
    int last = -1;
    for (size_t i = 0; i < timeline.size(); ++i) {
      if (!timeline[i].is_event) continue;
      if (At(DecodeReply(timeline[i].bytes).value, "objectId") ==
          EncodableValue(object_id)) {
        last = static_cast<int>(i);
      }
    }
    return last;
  }
};

TEST_F(WpdChannelEndToEndTest,
       ListDevicesAnswersEveryDeviceAfterTheWindowDrains) {
  const int number = Send("listDevices");
  const std::optional<Bytes> bytes = AwaitBytes(number);
  ASSERT_TRUE(bytes.has_value());
  const auto device = [](const char* id, const char* name, const char* maker,
                         const char* model) {
    return EncodableValue(ValueMap{
        {Str("id"), Str(id)},
        {Str("friendlyName"), Str(name)},
        {Str("manufacturer"), Str(maker)},
        {Str("model"), Str(model)},
        {Str("isApple"), EncodableValue(std::string(maker) == "Apple Inc.")}});
  };
  const EncodableValue expected(ValueList{
      device(kPhone, "Anna", "Apple Inc.", "Apple iPhone"),
      device(kSlowPad, "Kitchen", "Apple Inc.", "Apple iPad"),
      device(kCamera, "PowerShot", "Canon Inc.", "Digital camera"),
  });
  EXPECT_EQ(*bytes, SuccessBytes(&expected));
  // The answer came through the queue: the window was woken for it.
  EXPECT_GE(window_.reply_ready_messages(), 1);
}

TEST_F(WpdChannelEndToEndTest, DeviceFailuresBecomeTheRepliesOfEachMethod) {
  // A device that refuses to open: the scan still succeeds and says so; the
  // enumeration is an error carrying the HRESULT.
  Reply scan = Call("scanMedia", Args({{Str("id"), Str(kCamera)}}));
  ASSERT_EQ(scan.kind, Reply::Kind::kSuccess);
  EXPECT_EQ(At(scan.value, "status"), Str("accessDenied"));
  EXPECT_EQ(At(scan.value, "hresult"), I64(-2147024891LL));

  Reply listing = Call("enumerateMedia", Args({{Str("id"), Str(kCamera)}}));
  ASSERT_EQ(listing.kind, Reply::Kind::kError);
  EXPECT_EQ(listing.code, "wpd_error");
  EXPECT_EQ(listing.message, "Open device failed (HRESULT 0x80070005)");
  ASSERT_TRUE(listing.details.has_value());
  EXPECT_EQ(*listing.details, I64(-2147024891LL));

  devices_->SetProcessFault(wpd_sim::Call::kCreateManager,
                            wpd_sim::Fault{E_FAIL, 0});
  Reply devices = Call("listDevices");
  ASSERT_EQ(devices.kind, Reply::Kind::kError);
  EXPECT_EQ(devices.code, "wpd_error");
  EXPECT_EQ(devices.message,
            "Create PortableDeviceManager failed (HRESULT 0x80004005)");
  EXPECT_FALSE(devices.details.has_value());
}

TEST_F(WpdChannelEndToEndTest, ScanAndEnumerationDescribeTheCameraRoll) {
  Reply scan = Call("scanMedia", Args({{Str("id"), Str(kPhone)}}));
  ASSERT_EQ(scan.kind, Reply::Kind::kSuccess);
  EXPECT_EQ(scan.value,
            EncodableValue(ValueMap{
                {Str("status"), Str("ok")},
                {Str("error"), Str("")},
                {Str("hresult"), I64(0)},
                {Str("dcimFound"), EncodableValue(true)},
                {Str("storageChildren"),
                 EncodableValue(ValueList{Str("DCIM"), Str("Downloads")})},
                {Str("photos"), I64(3)},
                {Str("videos"), I64(1)},
                {Str("screenshots"), I64(0)},
                {Str("sidecars"), I64(0)},
                {Str("others"), I64(0)},
                {Str("totalBytes"), I64(3000 + kMovieSize + 0 + 10)},
            }));

  Reply listing = Call("enumerateMedia", Args({{Str("id"), Str(kPhone)}}));
  ASSERT_EQ(listing.kind, Reply::Kind::kSuccess);
  const auto& entries = std::get<ValueList>(listing.value);
  std::set<std::string> ids;
  for (const EncodableValue& entry : entries) {
    EXPECT_EQ(KeysOf(entry),
              (std::vector<std::string>{"date", "name", "objectId",
                                        "parentPath", "size"}));
    EXPECT_EQ(At(entry, "parentPath"), Str("100APPLE"));
    EXPECT_TRUE(std::holds_alternative<int64_t>(At(entry, "size")));
    ids.insert(std::get<std::string>(At(entry, "objectId")));
  }
  EXPECT_EQ(ids, (std::set<std::string>{"img1", "mov1", "empty", "locked"}));
}

TEST_F(WpdChannelEndToEndTest, RejectedArgumentsAreAnsweredAtOnceWithBadArgs) {
  const char* const kScan = "scanMedia requires a device id";
  const char* const kEnumerate = "enumerateMedia requires a device id";
  const char* const kCopy = "copyObject requires id, objectId and tempPath";
  const char* const kThumbnail = "getThumbnail requires id and objectId";
  const auto map = [](ValueMap entries) { return Args(std::move(entries)); };
  struct Case {
    const char* method;
    std::unique_ptr<EncodableValue> arguments;
    const char* message;
  };
  std::vector<Case> cases;
  cases.push_back({"scanMedia", nullptr, kScan});
  cases.push_back({"scanMedia", map({{Str("id"), Str("")}}), kScan});
  cases.push_back(
      {"scanMedia", map({{Str("id"), EncodableValue(int32_t{5})}}), kScan});
  cases.push_back({"scanMedia",
                   std::make_unique<EncodableValue>(ValueList{Str(kPhone)}),
                   kScan});
  cases.push_back({"scanMedia", map({{Str("ID"), Str(kPhone)}}), kScan});
  cases.push_back({"enumerateMedia", nullptr, kEnumerate});
  cases.push_back(
      {"enumerateMedia", map({{Str("id"), EncodableValue()}}), kEnumerate});
  const auto copy_without = [&](const char* missing) {
    ValueMap entries{{Str("id"), Str(kPhone)},
                     {Str("objectId"), Str("mov1")},
                     {Str("tempPath"), Str("x.bin")}};
    entries.erase(Str(missing));
    return map(std::move(entries));
  };
  cases.push_back({"copyObject", copy_without("id"), kCopy});
  cases.push_back({"copyObject", copy_without("objectId"), kCopy});
  cases.push_back({"copyObject", copy_without("tempPath"), kCopy});
  cases.push_back({"copyObject",
                   map({{Str("id"), Str(kPhone)},
                        {Str("objectId"), Str("mov1")},
                        {Str("tempPath"), EncodableValue(int64_t{1})}}),
                   kCopy});
  cases.push_back({"copyObject", nullptr, kCopy});
  cases.push_back({"getThumbnail", nullptr, kThumbnail});
  cases.push_back(
      {"getThumbnail", map({{Str("id"), Str(kPhone)}}), kThumbnail});
  cases.push_back(
      {"getThumbnail", map({{Str("objectId"), Str("img1")}}), kThumbnail});
  cases.push_back({"getThumbnail",
                   map({{Str("id"), Str(kPhone)}, {Str("objectId"), Str("")}}),
                   kThumbnail});
  cases.push_back({"getThumbnail",
                   map({{Str("id"), Str(kPhone)},
                        {Str("objectId"), EncodableValue(int32_t{1})}}),
                   kThumbnail});

  for (Case& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " / " + c.message);
    const int number = Send(c.method, std::move(c.arguments));
    // Answered by the dispatch itself, before any worker could run.
    engine_control::RunPendingMessages();
    const auto bytes = engine_control::ResponseTo(engine_, number);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(*bytes,
              *Codec().EncodeErrorEnvelope("bad_args", c.message, nullptr));
  }
  EXPECT_EQ(window_.reply_ready_messages(), 0);
  EXPECT_FALSE(std::filesystem::exists("x.bin"));
}

TEST_F(WpdChannelEndToEndTest, UnknownAndWronglyCasedNamesAreNotImplemented) {
  for (const char* name :
       {"listdevices", "ListDevices", "listDevices ", "listDevicesX", "list",
        "CANCEL", "copyobject", ""}) {
    SCOPED_TRACE(name);
    const auto bytes = AwaitBytes(Send(name));
    ASSERT_TRUE(bytes.has_value());
    EXPECT_TRUE(bytes->empty());
  }
  EXPECT_EQ(window_.reply_ready_messages(), 0);
}

TEST_F(WpdChannelEndToEndTest,
       CopySendsItsEventsBeforeItsReplyAndKeepsTheBytes) {
  Listen();
  Reply copy = Call("copyObject", CopyArgs(kPhone, "mov1", "mov1.bin"));
  ASSERT_EQ(copy.kind, Reply::Kind::kSuccess);
  EXPECT_EQ(copy.value, OpMap("ok", kMovieSize, 0, "", kMovieSize));
  EXPECT_EQ(FileContent(Staging("mov1.bin")), Pattern(kMovieSize));

  const auto events = EventsFor("mov1");
  ASSERT_FALSE(events.empty());
  ExpectOrderedProgress(events, kMovieSize);
  EXPECT_EQ(At(events.back(), "bytes"), I64(kMovieSize));
  const int reply = ReplyIndexFor("copyObject", "mov1");
  ASSERT_GE(reply, 0);
  EXPECT_LT(LastEventIndexFor("mov1"), reply);

  // An empty object: one final report with 0 bytes, and the empty file.
  Reply empty = Call("copyObject", CopyArgs(kPhone, "empty", "empty.bin"));
  EXPECT_EQ(empty.value, OpMap("ok", 0, 0, "", 0));
  const auto empty_events = EventsFor("empty");
  ASSERT_EQ(empty_events.size(), 1u);
  EXPECT_EQ(At(empty_events[0], "bytes"), I64(0));
  EXPECT_TRUE(std::filesystem::exists(Staging("empty.bin")));
}

TEST_F(WpdChannelEndToEndTest, CopyFailureIsASuccessReplyWhoseStatusSaysError) {
  Reply copy =
      Call("copyObject", CopyArgs(kPhone, "mov1", "no-such-folder/mov1.bin"));
  ASSERT_EQ(copy.kind, Reply::Kind::kSuccess);
  EXPECT_EQ(At(copy.value, "status"), Str("error"));
  EXPECT_EQ(At(copy.value, "bytesWritten"), I64(0));
  EXPECT_LT(std::get<int64_t>(At(copy.value, "hresult")), 0);
  EXPECT_EQ(std::get<std::string>(At(copy.value, "error"))
                .rfind("Create staging file failed (HRESULT 0x8007", 0),
            0u);
}

TEST_F(WpdChannelEndToEndTest, CanDeleteAndDeleteObjectAnswerWithoutErrors) {
  const auto ids = [](const char* device, const char* object) {
    return Args({{Str("id"), Str(device)}, {Str("objectId"), Str(object)}});
  };
  EXPECT_EQ(Call("canDelete", ids(kPhone, "img1")).value, EncodableValue(true));
  EXPECT_EQ(Call("canDelete", ids(kPhone, "mov1")).value,
            EncodableValue(false));
  // No such property, or no arguments at all: no answer, which is null.
  Reply unknown = Call("canDelete", ids(kPhone, "pdf"));
  EXPECT_EQ(unknown.kind, Reply::Kind::kSuccess);
  EXPECT_TRUE(unknown.value.IsNull());
  Reply bare = Call("canDelete");
  EXPECT_EQ(bare.kind, Reply::Kind::kSuccess);
  EXPECT_TRUE(bare.value.IsNull());

  EXPECT_EQ(Call("deleteObject", ids(kPhone, "img1")).value,
            OpMap("ok", 0, 0, ""));
  EXPECT_FALSE(devices_->HasObject(kPhoneW, L"img1"));
  EXPECT_EQ(Call("deleteObject", ids(kPhone, "locked")).value,
            OpMap("notPermitted", 0, -2147024891LL,
                  "Delete object failed (HRESULT 0x80070005)"));
  EXPECT_TRUE(devices_->HasObject(kPhoneW, L"locked"));
  // Answered as done by the device, and still there when read again.
  EXPECT_EQ(Call("deleteObject", ids(kPhone, "stuck")).value,
            OpMap("error", 0, -2147467259LL,
                  "Delete object failed: the object is still on the device"));
  EXPECT_TRUE(devices_->HasObject(kPhoneW, L"stuck"));

  // Without arguments the device layer gets empty ids and its failure is the
  // answer, not bad_args.
  Reply no_ids = Call("deleteObject");
  ASSERT_EQ(no_ids.kind, Reply::Kind::kSuccess);
  EXPECT_EQ(
      KeysOf(no_ids.value),
      (std::vector<std::string>{"bytesWritten", "error", "hresult", "status"}));
  EXPECT_NE(At(no_ids.value, "status"), Str("ok"));
}

TEST_F(WpdChannelEndToEndTest, GetThumbnailAnswersBytesNullOrTheDeviceFailure) {
  const auto ids = [](const char* device, const char* object) {
    return Args({{Str("id"), Str(device)}, {Str("objectId"), Str(object)}});
  };
  Reply photo = Call("getThumbnail", ids(kPhone, "img1"));
  ASSERT_EQ(photo.kind, Reply::Kind::kSuccess);
  EXPECT_EQ(photo.value, EncodableValue(std::vector<uint8_t>(
                             kThumbnail.begin(), kThumbnail.end())));
  // A video has none, one past 1 MiB is taken as none, and so is an object
  // the device does not know.
  for (const char* object : {"mov1", "locked", "nope"}) {
    SCOPED_TRACE(object);
    Reply none = Call("getThumbnail", ids(kPhone, object));
    ASSERT_EQ(none.kind, Reply::Kind::kSuccess);
    EXPECT_TRUE(none.value.IsNull());
  }
  Reply refused = Call("getThumbnail", ids(kCamera, "img1"));
  ASSERT_EQ(refused.kind, Reply::Kind::kError);
  EXPECT_EQ(refused.code, "wpd_error");
  EXPECT_EQ(refused.message, "Open device failed (HRESULT 0x80070005)");
  ASSERT_TRUE(refused.details.has_value());
  EXPECT_EQ(*refused.details, I64(-2147024891LL));

  devices_->SetObjectFault(kPhoneW, L"img1", wpd_sim::Call::kRead,
                           wpd_sim::Fault{static_cast<HRESULT>(0x8007001E), 4});
  Reply failed = Call("getThumbnail", ids(kPhone, "img1"));
  ASSERT_EQ(failed.kind, Reply::Kind::kError);
  EXPECT_EQ(failed.message, "Read from device failed (HRESULT 0x8007001E)");
  ASSERT_TRUE(failed.details.has_value());
  EXPECT_EQ(*failed.details, I64(-2147024866LL));
}

TEST_F(WpdChannelEndToEndTest, RequestsAreAnsweredInTheOrderTheyFinish) {
  const int copy = Send("copyObject", CopyArgs(kSlowPad, "endless1", "a.bin"));
  const int listing = Send("listDevices");
  // The listing, asked for later, finishes first and is answered while the
  // copy still runs.
  ASSERT_TRUE(AwaitBytes(listing).has_value());
  EXPECT_FALSE(Answered(copy));

  const auto cancel = AwaitBytes(Send("cancel"));
  ASSERT_TRUE(cancel.has_value());
  EXPECT_EQ(*cancel, SuccessBytes(nullptr));
  Reply copied = Await(copy);
  EXPECT_EQ(At(copied.value, "status"), Str("cancelled"));
  EXPECT_EQ(At(copied.value, "error"), Str("Cancelled"));
  EXPECT_EQ(At(copied.value, "hresult"), I64(0));
  EXPECT_FALSE(std::filesystem::exists(Staging("a.bin")));

  ASSERT_EQ(recorder_->timeline.size(), 3u);
  EXPECT_EQ(DecodeReply(recorder_->timeline[0].bytes).kind,
            Reply::Kind::kSuccess);
  EXPECT_EQ(Codec()
                .DecodeCall(recorder_->timeline[0].request.data(),
                            recorder_->timeline[0].request.size())
                ->method_name(),
            "listDevices");
  EXPECT_EQ(ReplyIndexFor("copyObject", "endless1"), 2);
}

TEST_F(WpdChannelEndToEndTest, OneCancelStopsTwoCopiesWhoseEventsInterleave) {
  Listen();
  const int first = Send("copyObject", CopyArgs(kSlowPad, "endless1", "a.bin"));
  const int second =
      Send("copyObject", CopyArgs(kSlowPad, "endless2", "b.bin"));
  // Both run at once: each has reported twice before either is stopped.
  ASSERT_TRUE(PumpUntil([&] {
    return EventsFor("endless1").size() >= 2 &&
           EventsFor("endless2").size() >= 2;
  }));
  EXPECT_FALSE(Answered(first));
  EXPECT_FALSE(Answered(second));

  ASSERT_TRUE(AwaitBytes(Send("cancel")).has_value());
  Reply a = Await(first);
  Reply b = Await(second);
  for (const auto& [reply, object, file] :
       {std::tuple<const Reply&, const char*, const char*>{a, "endless1",
                                                           "a.bin"},
        {b, "endless2", "b.bin"}}) {
    SCOPED_TRACE(object);
    EXPECT_EQ(At(reply.value, "status"), Str("cancelled"));
    const auto events = EventsFor(object);
    ExpectOrderedProgress(events, kEndless);
    EXPECT_GE(std::get<int64_t>(At(reply.value, "bytesWritten")),
              std::get<int64_t>(At(events.back(), "bytes")));
    EXPECT_LT(LastEventIndexFor(object), ReplyIndexFor("copyObject", object));
    EXPECT_FALSE(std::filesystem::exists(Staging(file)));
  }
}

TEST_F(WpdChannelEndToEndTest,
       AcceptedCopyClearsAnEarlierCancelButARejectedOneDoesNot) {
  // A cancel with nothing running stays set...
  EXPECT_EQ(AwaitBytes(Send("cancel")), SuccessBytes(nullptr));
  // ...until the next accepted copy clears it, which then runs to its end.
  Reply copy = Call("copyObject", CopyArgs(kPhone, "mov1", "mov1.bin"));
  EXPECT_EQ(copy.value, OpMap("ok", kMovieSize, 0, "", kMovieSize));

  Listen();
  const int running =
      Send("copyObject", CopyArgs(kSlowPad, "endless1", "a.bin"));
  ASSERT_TRUE(PumpUntil([&] { return !EventsFor("endless1").empty(); }));
  // A rejected copy right behind the cancel must not take it back.
  Send("cancel");
  const int rejected = Send(
      "copyObject",
      Args({{Str("id"), Str(kSlowPad)}, {Str("objectId"), Str("endless2")}}));
  EXPECT_EQ(Await(rejected).code, "bad_args");
  EXPECT_EQ(At(Await(running).value, "status"), Str("cancelled"));
}

TEST_F(WpdChannelEndToEndTest, ReportsWithoutAListenerAreDroppedNotKept) {
  Reply copy = Call("copyObject", CopyArgs(kPhone, "mov1", "mov1.bin"));
  EXPECT_EQ(At(copy.value, "status"), Str("ok"));

  const int running =
      Send("copyObject", CopyArgs(kSlowPad, "endless1", "a.bin"));
  // The running copy's first reports are drained while nobody listens.
  const int woken = window_.reply_ready_messages();
  ASSERT_TRUE(
      PumpUntil([&] { return window_.reply_ready_messages() > woken; }));
  EXPECT_TRUE(Events().empty());

  // A listener that comes later gets the reports drained from then on.
  Listen();
  ASSERT_TRUE(PumpUntil([&] { return !EventsFor("endless1").empty(); }));
  EXPECT_TRUE(EventsFor("mov1").empty());
  Send("cancel");
  EXPECT_EQ(At(Await(running).value, "status"), Str("cancelled"));
}

TEST_F(WpdChannelEndToEndTest,
       HandlerDestroyedWhileJobsRunAnswersNothingAndWarns) {
  Listen();
  const int first = Send("copyObject", CopyArgs(kSlowPad, "endless1", "a.bin"));
  const int second =
      Send("copyObject", CopyArgs(kSlowPad, "endless2", "b.bin"));
  ASSERT_TRUE(PumpUntil([&] {
    return !EventsFor("endless1").empty() && !EventsFor("endless2").empty();
  }));
  ASSERT_EQ(recorder_->LiveReplies(), 2);

  testing::internal::CaptureStderr();
  window_.set_handler(nullptr);
  handler_.reset();
  const size_t events_at_destruction = Events().size();
  // Destroying the handler neither waits for the copies nor cancels them;
  // a failing device ends them on their own. Their completions go unrun with
  // the last reference to the queue, and so do their results.
  devices_->SetDeviceFault(kSlowPadW, wpd_sim::Call::kRead,
                           wpd_sim::Fault{E_FAIL, 0});
  const bool gone = PumpUntil([&] { return recorder_->LiveReplies() == 0; });
  const std::string diagnostics = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(gone);

  EXPECT_FALSE(Answered(first));
  EXPECT_FALSE(Answered(second));
  EXPECT_EQ(Events().size(), events_at_destruction);
  const std::string warning =
      "Warning: Failed to respond to a message. This is a memory leak.\n";
  size_t warnings = 0;
  for (size_t at = diagnostics.find(warning); at != std::string::npos;
       at = diagnostics.find(warning, at + 1)) {
    ++warnings;
  }
  EXPECT_EQ(warnings, 2u) << diagnostics;

  // Nothing reaches the handler any more: the engine answers calls on the
  // unregistered channel itself, with no bytes.
  const auto late = engine_control::Call(engine_, snapferry::kWpdChannelName,
                                         channel_test::EncodedCall("cancel"));
  ASSERT_TRUE(late.has_value());
  EXPECT_TRUE(late->empty());
  for (const std::string& channel :
       engine_control::RegisteredChannels(engine_)) {
    EXPECT_NE(channel, snapferry::kWpdChannelName);
    EXPECT_NE(channel, snapferry::kWpdEventChannelName);
  }
}

TEST_F(WpdChannelEndToEndTest,
       RequestsShareOneSessionThatOutlivesAReplugAndClosesWithTheHandler) {
  EXPECT_EQ(
      At(Call("copyObject", CopyArgs(kPhone, "img1", "a.bin")).value, "status"),
      Str("ok"));
  EXPECT_EQ(Call("enumerateMedia", Args({{Str("id"), Str(kPhone)}})).kind,
            Reply::Kind::kSuccess);
  EXPECT_EQ(Call("canDelete", Args({{Str("id"), Str(kPhone)},
                                    {Str("objectId"), Str("img1")}}))
                .value,
            EncodableValue(true));
  EXPECT_EQ(devices_->LinkUse(kPhoneW).opens, 1u);

  // Plugged in again: the kept session answers that the device went away,
  // and the copy, which delivered nothing yet, runs again on a new one.
  ASSERT_TRUE(devices_->Replug(kPhoneW));
  const std::string img1 =
      snapferry::WideToUtf8(devices_->ObjectId(kPhoneW, L"img1"));
  EXPECT_EQ(
      At(Call("copyObject", CopyArgs(kPhone, img1, "b.bin")).value, "status"),
      Str("ok"));
  EXPECT_EQ(devices_->LinkUse(kPhoneW).opens, 2u);
  EXPECT_EQ(devices_->OpenSessions(kPhoneW), 1);

  window_.set_handler(nullptr);
  handler_.reset();
  EXPECT_EQ(devices_->OpenSessions(kPhoneW), 0);
  EXPECT_EQ(devices_->OpenWithoutClose(), 0);
  EXPECT_EQ(devices_->LiveObjects(), 0) << devices_->LiveObjectsText();
}

}  // namespace
}  // namespace e2e
