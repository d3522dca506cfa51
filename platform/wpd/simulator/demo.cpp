// The built-in devices, offered when no fixture file is named: an iPhone as
// a current one shows itself (month folders right below its read-only
// storage, no object names, Live Photo motion and edits as "unspecified"), a
// camera of another maker, and an iPhone of an older iOS with DCIM/100APPLE.
// The current iPhone sits behind a USB 2 link and holds about 290 MB, most
// of it generated as it is read (pattern data), so that a demo import shows
// a real import's pace for several seconds. The other files' data is
// generated deterministically, each file starting with its format's
// signature. Every photo has a small real JPEG as its thumbnail, as an
// iPhone's have (screenshots a portrait one); videos and sidecars have none.
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/wpd/simulator/demo_thumbnails.h"
#include "platform/wpd/simulator/model.h"

namespace wpd_sim {
namespace {

std::string Signature(const std::wstring& name) {
  std::wstring ext = name.substr(name.rfind(L'.') + 1);
  if (ext == L"HEIC")
    return std::string(
        "\0\0\0\x18"
        "ftypheic",
        12);
  if (ext == L"JPG") return "\xFF\xD8\xFF\xE1";
  if (ext == L"PNG") return "\x89PNG\r\n\x1A\n";
  if (ext == L"MOV")
    return std::string(
        "\0\0\0\x14"
        "ftypqt  ",
        12);
  if (ext == L"MP4")
    return std::string(
        "\0\0\0\x18"
        "ftypmp42",
        12);
  return "";
}

std::string Bytes(const std::wstring& name, uint64_t size, uint32_t seed) {
  if (name.size() > 4 && name.compare(name.size() - 4, 4, L".AAE") == 0) {
    std::string plist =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
        "<dict><key>adjustmentFormatIdentifier</key>"
        "<string>com.apple.photo</string><key>adjustmentFormatVersion</key>"
        "<string>1.4</string></dict></plist>\n";
    plist.resize(size, ' ');
    return plist;
  }
  std::string data = Signature(name);
  uint32_t state = seed * 2654435761u + 1;
  while (data.size() < size) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    data += static_cast<char>(state & 0xFF);
  }
  data.resize(size);
  return data;
}

// The thumbnail of the index-th photo named `name`, shared by every photo
// that shows the same picture; none for anything but images.
std::shared_ptr<const std::string> ThumbnailFor(const std::wstring& name,
                                                ContentType type,
                                                size_t index) {
  static const std::vector<std::shared_ptr<const std::string>> pictures = [] {
    std::vector<std::shared_ptr<const std::string>> all;
    for (size_t i = 0; i < kDemoThumbnailCount; ++i) {
      const EmbeddedFile& file = kDemoThumbnails[i];
      all.push_back(std::make_shared<const std::string>(
          reinterpret_cast<const char*>(file.bytes), file.size));
    }
    return all;
  }();
  if (type != ContentType::kImage || pictures.empty()) return nullptr;
  // The last picture is the portrait screenshot.
  if (name.size() > 4 && name.compare(name.size() - 4, 4, L".PNG") == 0) {
    return pictures.back();
  }
  return pictures[index % (pictures.size() - 1)];
}

void AddThumbnail(ObjectSpec& file, size_t index) {
  if (auto picture =
          ThumbnailFor(*file.original_file_name, file.content_type, index)) {
    file.Thumbnail(std::move(picture));
  }
}

struct DemoFile {
  const wchar_t* id;
  const wchar_t* folder;
  const wchar_t* name;
  ContentType type;
  uint64_t size;
  int month, day, hour, minute, second;
};

// The older layout's files, with names and deletion allowed, in June 2024.
void AddFiles(DeviceSpec* device, const DemoFile* files, size_t count,
              uint32_t seed) {
  for (size_t i = 0; i < count; ++i) {
    const DemoFile& f = files[i];
    DateProperty taken =
        DateProperty::At(2024, f.month, f.day, f.hour, f.minute, f.second);
    ObjectSpec& file =
        device
            ->AddFile(f.id, f.folder, f.name, f.type,
                      Bytes(f.name, f.size, seed + static_cast<uint32_t>(i)))
            .Created(taken)
            .Modified(taken)
            .CanDelete(true);
    AddThumbnail(file, i);
  }
}

// A current iPhone's files, in 2026.
void AddPhoneFiles(DeviceSpec* device, const DemoFile* files, size_t count,
                   uint32_t seed) {
  for (size_t i = 0; i < count; ++i) {
    const DemoFile& f = files[i];
    ObjectSpec& file =
        device
            ->AddPhoneFile(f.id, f.folder, f.name, f.type, f.size,
                           DateProperty::At(2026, f.month, f.day, f.hour,
                                            f.minute, f.second))
            .Data(Bytes(f.name, f.size, seed + static_cast<uint32_t>(i)));
    AddThumbnail(file, i);
  }
}

// The end of September's roll: 76 photos of 1.8 to 3 MB and 4 videos of 20
// to 30 MB, IMG_1204 to IMG_1283, one every 25 minutes from Sep 28 09:00.
void AddGeneratedMonth(DeviceSpec* phone, const std::wstring& folder) {
  for (int i = 0; i < 80; ++i) {
    bool video = i % 20 == 19;
    std::wstring number = std::to_wstring(1204 + i);
    std::wstring name = L"IMG_" + number +
                        (video        ? L".MOV"
                         : i % 7 == 3 ? L".JPG"
                                      : L".HEIC");
    uint64_t size = video ? 20000000 + (i * 2654435761u) % 10000000
                          : 1800000 + (i * 7919u * 131u) % 1200000;
    int minutes = 9 * 60 + 25 * i;
    AddThumbnail(phone->AddPhoneFile(
                     L"o" + number, folder, name,
                     video ? ContentType::kVideo : ContentType::kImage, size,
                     DateProperty::At(2026, 9, 28 + minutes / (24 * 60),
                                      minutes / 60 % 24, minutes % 60, i % 60)),
                 static_cast<size_t>(i));
  }
}

}  // namespace

Fixture DemoFixture() {
  Fixture fixture;
  using T = ContentType;

  DeviceSpec& phone = fixture.AddDevice(
      L"\\\\?\\usb#vid_05ac&pid_12a8&mi_00#00008110001e2d3a0c41801e"
      L"#{6ac27878-a6fa-4155-ba85-f98f491d4f33}");
  // The name its owner gave it, as a real one is listed.
  phone.FriendlyName(L"Anna's iPhone")
      .Manufacturer(L"Apple Inc.")
      .Description(L"Apple iPhone")
      .Link(LinkSpec::Usb2())
      .Bulk();
  // As the observed iPhone answers (its serial number made up).
  phone.properties.model = L"Apple iPhone";
  phone.properties.firmware_version = L"27.0";
  phone.properties.protocol = L"MTP: 1.00";
  phone.properties.serial_number = L"F17ZQ4K9N72J";
  phone.properties.power_level = 84;
  phone.properties.power_source = 1;
  phone.properties.supports_non_consumable = false;
  // 64 GB, about a third of it free.
  phone.AddPhoneStorage(L"s10001", L"Internal Storage")
      .Capacity(63'978'983'424, 21'307'637'760);
  phone.AddPhoneFolder(L"o1", L"s10001", L"202609_a");
  phone.AddPhoneFolder(L"o2", L"s10001", L"202610_a");
  phone.AddPhoneFolder(L"o3", L"s10001", L"202610__");
  static const DemoFile kPhoneFiles[] = {
      {L"o10", L"o1", L"IMG_1201.HEIC", T::kImage, 412311, 9, 14, 10, 15, 30},
      {L"o11", L"o1", L"IMG_1201.MOV", T::kUnspecified, 604118, 9, 14, 10, 15,
       30},
      {L"o12", L"o1", L"IMG_1202.JPG", T::kImage, 389120, 9, 20, 17, 45, 2},
      {L"o13", L"o1", L"IMG_1203.PNG", T::kImage, 263407, 9, 28, 8, 2, 11},
      {L"o20", L"o2", L"IMG_1234.HEIC", T::kImage, 436877, 10, 3, 7, 5, 3},
      {L"o21", L"o2", L"IMG_1234.MOV", T::kUnspecified, 518330, 10, 3, 7, 5, 3},
      {L"o22", L"o2", L"IMG_E1234.HEIC", T::kImage, 455219, 10, 3, 16, 12, 58},
      {L"o23", L"o2", L"IMG_1234.AAE", T::kUnspecified, 1402, 10, 3, 16, 12,
       58},
      {L"o24", L"o2", L"IMG_1235.MOV", T::kVideo, 918330, 10, 5, 18, 40, 9},
      {L"o30", L"o3", L"IMG_1236.PNG", T::kImage, 187552, 10, 9, 21, 33, 19},
      {L"o31", L"o3", L"IMG_1237.HEIC", T::kImage, 398004, 10, 11, 12, 0, 0},
  };
  AddPhoneFiles(&phone, kPhoneFiles, std::size(kPhoneFiles), 300);
  AddGeneratedMonth(&phone, L"o1");

  DeviceSpec& camera = fixture.AddDevice(
      L"\\\\?\\usb#vid_04a9&pid_32d4#5&1c2d3e4f&0&2"
      L"#{6ac27878-a6fa-4155-ba85-f98f491d4f33}");
  camera.FriendlyName(L"Canon EOS R50")
      .Manufacturer(L"Canon Inc.")
      .Description(L"Canon Digital Camera");
  camera.AddStorage(L"s1", L"SD");
  camera.AddFolder(L"f1", L"s1", L"DCIM");
  camera.AddFolder(L"f2", L"f1", L"100CANON");
  camera.AddFolder(L"f3", L"s1", L"MISC");
  static const DemoFile kCameraFiles[] = {
      {L"c1", L"f2", L"IMG_1001.JPG", T::kImage, 302114, 6, 15, 14, 2, 7},
      {L"c2", L"f2", L"IMG_1002.JPG", T::kImage, 297650, 6, 15, 14, 2, 9},
      {L"c3", L"f2", L"MVI_1003.MP4", T::kVideo, 655360, 6, 15, 14, 5, 51},
  };
  AddFiles(&camera, kCameraFiles, std::size(kCameraFiles), 200);

  // Last, so that the current iPhone is the first Apple device.
  DeviceSpec& old_phone = fixture.AddDevice(
      L"\\\\?\\usb#vid_05ac&pid_12a8&mi_00#00008030000a1b2c3d4e5f60"
      L"#{6ac27878-a6fa-4155-ba85-f98f491d4f33}");
  old_phone.FriendlyName(L"iPhone 8")
      .Manufacturer(L"Apple Inc.")
      .Description(L"Apple iPhone");
  old_phone.AddStorage(L"s10001", L"Internal Storage");
  old_phone.AddFolder(L"o1", L"s10001", L"DCIM");
  old_phone.AddFolder(L"o2", L"o1", L"100APPLE");
  old_phone.AddFolder(L"o3", L"o1", L"101APPLE");
  static const DemoFile kOldPhoneFiles[] = {
      {L"o10", L"o2", L"IMG_0001.HEIC", T::kImage, 412311, 6, 1, 10, 15, 30},
      {L"o11", L"o2", L"IMG_0001.AAE", T::kGeneric, 1184, 6, 1, 10, 16, 2},
      {L"o12", L"o2", L"IMG_0002.JPG", T::kImage, 389120, 6, 1, 10, 17, 45},
      {L"o13", L"o2", L"IMG_0003.PNG", T::kImage, 263407, 6, 2, 8, 2, 11},
      {L"o14", L"o2", L"IMG_0004.MOV", T::kVideo, 1206742, 6, 2, 18, 40, 9},
      {L"o15", L"o2", L"IMG_0005.HEIC", T::kImage, 398004, 6, 3, 12, 0, 0},
      {L"o20", L"o3", L"IMG_0101.HEIC", T::kImage, 436877, 6, 9, 7, 5, 3},
      {L"o21", L"o3", L"IMG_0102.MOV", T::kVideo, 918330, 6, 9, 7, 6, 40},
      {L"o22", L"o3", L"IMG_0103.PNG", T::kImage, 187552, 6, 10, 21, 33, 19},
      {L"o23", L"o3", L"IMG_E0104.HEIC", T::kImage, 455219, 6, 11, 16, 12, 58},
      {L"o24", L"o3", L"IMG_0104.AAE", T::kGeneric, 1402, 6, 11, 16, 13, 20},
  };
  AddFiles(&old_phone, kOldPhoneFiles, std::size(kOldPhoneFiles), 100);
  return fixture;
}

}  // namespace wpd_sim
