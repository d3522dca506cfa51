// Writes the seed corpora of the fuzz targets (corpus/<target>/) from real
// encodings, made with the system's own codec:
//   build/fuzz/fuzz/fuzz_make_seeds fuzz/corpus

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "messaging/byte_streams.h"
#include "messaging/encodable_value.h"
#include "messaging/method_call.h"
#include "messaging/standard_codec_serializer.h"
#include "messaging/standard_method_codec.h"

namespace {

using flutter::EncodableValue;
using flutter::ValueList;
using flutter::ValueMap;
using Bytes = std::vector<uint8_t>;

std::filesystem::path root;

void Save(const std::string& target, const std::string& name,
          const Bytes& bytes) {
  std::filesystem::create_directories(root / target);
  std::ofstream(root / target / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void Save(const std::string& target, const std::string& name,
          const std::string& text) {
  Save(target, name, Bytes(text.begin(), text.end()));
}

Bytes Value(const EncodableValue& value) {
  Bytes bytes;
  flutter::ByteBufferStreamWriter writer(&bytes);
  flutter::StandardCodecSerializer::SharedInstance().WriteValue(value, &writer);
  return bytes;
}

const flutter::StandardMethodCodec& Codec() {
  return flutter::StandardMethodCodec::SharedInstance();
}

EncodableValue Str(const char* text) {
  return EncodableValue(std::string(text));
}

Bytes Call(const std::string& method, ValueMap arguments = {}) {
  auto value = arguments.empty()
                   ? nullptr
                   : std::make_unique<EncodableValue>(std::move(arguments));
  return *Codec().EncodeCall(flutter::MethodCall(method, std::move(value)));
}

ValueMap Ids(const char* id, const char* object_id) {
  return {{Str("id"), Str(id)}, {Str("objectId"), Str(object_id)}};
}

ValueMap CopyArgs(const char* id, const char* object_id, const char* path) {
  ValueMap map = Ids(id, object_id);
  map[Str("tempPath")] = Str(path);
  return map;
}

// The channel target's framing: header byte (bits 0 and 1: the channel),
// 16-bit little-endian length, the bytes.
enum Channel : uint8_t { kWpd, kEvents, kMedia, kDevices };
struct Frames {
  Bytes bytes;
  Frames& Add(const Bytes& message, Channel channel = kWpd) {
    bytes.push_back(channel);
    bytes.push_back(message.size() & 0xFF);
    bytes.push_back(message.size() >> 8);
    bytes.insert(bytes.end(), message.begin(), message.end());
    return *this;
  }
};

void CodecValueSeeds() {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Save("fuzz_codec_value", "null", Value(EncodableValue()));
  Save(
      "fuzz_codec_value", "copy_reply",
      Value(ValueMap{{Str("status"), Str("error")},
                     {Str("bytesWritten"), EncodableValue(int64_t{1000})},
                     {Str("hresult"), EncodableValue(int64_t{-2147467259})},
                     {Str("error"), Str("Read failed (HRESULT 0x80004005)")}}));
  Save("fuzz_codec_value", "list_of_double",
       Value(ValueList{1.5, int32_t{7}, true, false}));
  Save("fuzz_codec_value", "typed_lists",
       Value(
           ValueList{std::vector<uint8_t>{1, 2, 3}, std::vector<int32_t>{-1, 2},
                     std::vector<int64_t>{3}, std::vector<double>{0.5, nan},
                     std::vector<float>{-0.0f, 2.5f}, std::vector<int32_t>{}}));
  Save("fuzz_codec_value", "number_keys",
       Value(ValueMap{{nan, 1},
                      {-0.0, 2},
                      {2.0, 3},
                      {int64_t{1} << 40, 4},
                      {ValueList{1, "a"}, ValueMap{{"k", 5}}}}));
  Save("fuzz_codec_value", "long_string",
       Value(EncodableValue(std::string(300, 'x'))));
  Save("fuzz_codec_value", "nested",
       Value(ValueList{ValueList{ValueList{ValueMap{{"deep", ValueList{}}}}}}));
}

void MethodCodecSeeds() {
  Save("fuzz_method_codec", "call_list_devices", Call("listDevices"));
  Save("fuzz_method_codec", "call_copy",
       Call("copyObject", CopyArgs("phone", "img", "/tmp/IMG_0001.HEIC")));
  Save("fuzz_method_codec", "call_listen", Call("listen"));
  const EncodableValue devices(ValueList{ValueMap{
      {Str("id"), Str("phone")}, {Str("isApple"), EncodableValue(true)}}});
  Save("fuzz_method_codec", "success",
       *Codec().EncodeSuccessEnvelope(&devices));
  Save("fuzz_method_codec", "success_null",
       *Codec().EncodeSuccessEnvelope(nullptr));
  const EncodableValue hresult(int64_t{-2147024891});
  Save("fuzz_method_codec", "error",
       *Codec().EncodeErrorEnvelope("wpd_error", "Open failed", &hresult));
  Save("fuzz_method_codec", "error_no_message",
       *Codec().EncodeErrorEnvelope("bad_args", "", nullptr));
}

void ChannelSeeds() {
  const char* kTarget = "fuzz_channels";
  Save(kTarget, "list_devices", Frames().Add(Call("listDevices")).bytes);
  Save(kTarget, "scan_and_enumerate",
       Frames()
           .Add(Call("scanMedia", {{Str("id"), Str("phone")}}))
           .Add(Call("enumerateMedia", {{Str("id"), Str("pad")}}))
           .Add(Call("enumerateMedia", {{Str("id"), Str("cam")}}))
           .bytes);
  Save(kTarget, "copies_with_progress",
       Frames()
           .Add(Call("listen"), kEvents)
           .Add(Call("copyObject", CopyArgs("phone", "img", "IMG_0001.HEIC")))
           .Add(Call("copyObject", CopyArgs("pad", "clip", "CLIP.MOV")))
           .Add(Call("copyObject", CopyArgs("phone", "empty", "IMG_0003.JPG")))
           .Add(Call("cancel"), kEvents)
           .bytes);
  Save(kTarget, "copy_failures_and_cancel",
       Frames()
           .Add(Call("copyObject", CopyArgs("phone", "bad", "IMG_0005.JPG")))
           .Add(Call("copyObject", CopyArgs("phone", "mov", "IMG_0002.MOV")))
           .Add(Call("cancel"))
           .Add(Call("copyObject", CopyArgs("cam", "x", "x.jpg")))
           .Add(Call("copyObject", CopyArgs("phone", "nothing", "y")))
           .Add(Call("copyObject", Ids("phone", "img")))
           .bytes);
  Save(kTarget, "deletions",
       Frames()
           .Add(Call("canDelete", Ids("phone", "img")))
           .Add(Call("canDelete", Ids("phone", "mov")))
           .Add(Call("deleteObject", Ids("phone", "locked")))
           .Add(Call("deleteObject", Ids("phone", "img")))
           .Add(Call("canDelete"))
           .bytes);
  Save(kTarget, "thumbnails",
       Frames()
           .Add(Call("getThumbnail", Ids("phone", "img")))
           .Add(Call("getThumbnail", Ids("pad", "clip")))
           .Add(Call("getThumbnail", Ids("phone", "nothing")))
           .Add(Call("getThumbnail", {{Str("id"), Str("phone")}}))
           .bytes);
  // Listeners on the other two channels, and deletes of ids just listed.
  Save(kTarget, "listeners_and_listed_deletes",
       Frames()
           .Add(Call("listen"), kMedia)
           .Add(Call("listen"), kDevices)
           .Add(Call("enumerateMedia", {{Str("id"), Str("phone")}}))
           .Add(Call("canDelete", Ids("phone", "img")))
           .Add(Call("deleteObject", Ids("phone", "img")))
           .Add(Call("cancel"), kMedia)
           .Add(Call("cancel"), kDevices)
           .bytes);
  Save(kTarget, "odd_calls",
       Frames()
           .Add(Call("cancel"), kEvents)
           .Add(Call("ListDevices"))
           .Add(Bytes{0x03, 0x01, 0x00, 0x00, 0x00})
           .Add(Bytes{})
           .Add(Bytes{0x07, 0x06, 'l', 'i', 's', 't', 'e', 'n'}, kEvents)
           .bytes);
}

void FixtureSeeds() {
  const char* kTarget = "fuzz_fixture";
  Save(kTarget, "empty_object", std::string("{}"));
  Save(kTarget, "phone", std::string(R"({"devices": [{
  "id": "\\\\?\\usb#vid_05ac&pid_12a8#phone",
  "friendlyName": "iPhone", "manufacturer": "Apple Inc.",
  "description": "Apple iPhone", "maxReadSize": 4096,
  "shortReadResult": "S_FALSE",
  "objects": [
    {"id": "s1", "contentType": "functional", "name": "Internal Storage"},
    {"id": "dcim", "parent": "s1", "contentType": "folder", "name": "DCIM"},
    {"id": "o1", "parent": "dcim", "contentType": "image",
     "name": "IMG_0001.HEIC", "originalFileName": "IMG_0001.HEIC",
     "size": 3, "data": {"hex": "0a0B0c"}, "canDelete": true,
     "dateCreated": "2024-02-29T12:30:00",
     "dateModified": {"string": "yesterday"}},
    {"id": "o2", "parent": "dcim", "contentType": "video", "name": "A.MOV",
     "data": {"pattern": 70000}, "canDelete": -1,
     "dateModified": {"uint": 7}, "fail": {"Read": {"hresult": -2147467259,
     "afterBytes": 1000}}}
  ]}]})"));
  Save(kTarget, "faults", std::string(R"({"fail": {"GetDevices": 2147942405},
  "devices": [{"id": "cam", "openHresult": -2147024891,
  "optimalTransferSize": 65536,
  "fail": {"Next": {"hresult": 1, "afterItems": 64}, "Delete": 5},
  "objects": [{"id": "x", "contentType": "none", "data": "text"}]}]})"));
  Save(kTarget, "bad_parent", std::string(R"({"devices": [{"id": "d",
  "objects": [{"id": "a", "parent": "b"}, {"id": "b"}]}]})"));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: fuzz_make_seeds <corpus folder>" << std::endl;
    return 2;
  }
  root = argv[1];
  CodecValueSeeds();
  MethodCodecSeeds();
  ChannelSeeds();
  FixtureSeeds();
  return 0;
}
