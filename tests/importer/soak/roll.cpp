#include "tests/importer/soak/roll.h"

#include <cstdio>
#include <fstream>
#include <system_error>

namespace soak {
namespace {

namespace fs = std::filesystem;

constexpr int kPerFolder = 200;
constexpr const char* kExtensions[] = {"HEIC", "MOV", "JPG", "PNG", "AAE"};

std::string FolderName(int index) {
  char name[32];
  std::snprintf(name, sizeof(name), "20%02d%02d_a", 20 + index / 12,
                1 + index % 12);
  return name;
}

// Byte i is i mod 251, as the simulator's pattern data.
bool HoldsPattern(const fs::path& path, uint64_t size) {
  std::ifstream file(path, std::ios::binary);
  std::string bytes(size + 1, '\0');
  file.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
  if (static_cast<uint64_t>(file.gcount()) != size) return false;
  for (uint64_t i = 0; i < size; ++i) {
    if (static_cast<unsigned char>(bytes[i]) != i % 251) return false;
  }
  return true;
}

}  // namespace

Roll MakeRoll(int objects) {
  Roll roll;
  for (int i = 0; i < objects; ++i) {
    char name[32];
    std::snprintf(name, sizeof(name), "IMG_%04d.%s", i % 10000,
                  kExtensions[i % 5]);
    // 1 to 1,200 bytes, a few MB for 5,000 files.
    const uint64_t size = 1 + (static_cast<uint64_t>(i) * 7919) % 1200;
    roll.files[FolderName(i / kPerFolder) + "/" + name] = size;
  }
  return roll;
}

// The random faults answer E_FAIL, E_ACCESSDENIED or ERROR_BUSY: failures of
// a phone that is still there. The codes of a phone that went away end a
// whole walk or copy; the tests of a pulled phone cover those.
std::string RollFixture(const Roll& roll, double rate, uint64_t seed) {
  char header[512];
  std::snprintf(header, sizeof(header),
                R"({ "randomFaults": {"rate": %.6f, "seed": %llu,
    "hresults": [-2147467259, -2147024891, -2147024726]},
  "devices": [ {
  "id": "\\\\?\\usb#vid_05ac&pid_12a8&mi_00#soak#{6ac27878-a6fa-4155-ba85-f98f491d4f33}",
  "friendlyName": "Soak iPhone", "manufacturer": "Apple Inc.",
  "description": "Apple iPhone",
  "objects": [
  { "id": "s1", "contentType": "functional", "name": "Internal Storage",
    "fileSystemType": "DCF", "storageAccessCapability": 1 })",
                rate, static_cast<unsigned long long>(seed));
  std::string text = header;
  std::string folder;
  int id = 0;
  for (const auto& [path, size] : roll.files) {
    const std::string month = path.substr(0, path.find('/'));
    if (month != folder) {
      folder = month;
      text += ",\n  { \"id\": \"" + month + "\", \"parent\": \"s1\", " +
              "\"contentType\": \"folder\", \"name\": \"" + month + "\" }";
    }
    const std::string name = path.substr(path.find('/') + 1);
    const bool image = name.find(".MOV") == std::string::npos &&
                       name.find(".AAE") == std::string::npos;
    const std::string bytes = std::to_string(size);
    text += ",\n  { \"id\": \"o" + std::to_string(++id) + "\", \"parent\": \"" +
            month + "\", \"contentType\": \"" +
            (image ? "image" : "unspecified") + "\", \"originalFileName\": \"" +
            name + "\", \"size\": " + bytes +
            ", \"dateCreated\": \"2026-10-01T12:00:00\", \"data\": " +
            "{\"pattern\": " + bytes + "} }";
  }
  return text + "\n] } ] }\n";
}

FolderCheck CheckFolder(const fs::path& folder, const Roll& roll) {
  FolderCheck check;
  std::error_code error;
  std::map<std::string, bool> seen;
  if (fs::exists(folder, error)) {
    for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
      if (entry.is_directory()) continue;
      const std::string name =
          entry.path().lexically_relative(folder).generic_u8string();
      const std::string leaf = entry.path().filename().u8string();
      if (leaf.size() > 5 && leaf[0] == '.' &&
          leaf.find(".part") != std::string::npos) {
        check.staging.push_back(name);
        continue;
      }
      auto found = roll.files.find(name);
      if (found == roll.files.end()) {
        check.wrong.push_back(name + ": not a file of the roll");
      } else if (!HoldsPattern(entry.path(), found->second)) {
        check.wrong.push_back(name + ": bytes differ from the object's");
      } else {
        ++check.imported;
        seen[name] = true;
      }
    }
  }
  check.missing = static_cast<int>(roll.files.size() - seen.size());
  return check;
}

}  // namespace soak
