#include "importer/report_masking.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>

#include "importer/channel_client.h"

namespace importer {
namespace {

using flutter::EncodableValue;
using flutter::ValueList;

// Property values that are ids: they keep their shape only. A serial
// number is never read; should a device give one all the same, it goes
// the same way.
constexpr const char* kIdKeys[] = {
    "WPD_OBJECT_ID", "WPD_OBJECT_PARENT_ID", "WPD_OBJECT_PERSISTENT_UNIQUE_ID",
    "WPD_OBJECT_CONTAINER_FUNCTIONAL_OBJECT_ID", "WPD_DEVICE_SERIAL_NUMBER"};
constexpr char kFriendlyNameKey[] = "WPD_DEVICE_FRIENDLY_NAME";

// An instance segment shorter than this is not looked for in free text: a
// short one ("phone") would mask ordinary words.
constexpr size_t kLeastInstanceToScrub = 8;

// The parts of a PnP device id between '#'; none unless it has the form
// MaskedDeviceId keeps.
std::optional<std::vector<std::string>> DeviceIdParts(const std::string& id) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t hash = id.find('#'); hash != std::string::npos;
       hash = id.find('#', start)) {
    parts.push_back(id.substr(start, hash - start));
    start = hash + 1;
  }
  parts.push_back(id.substr(start));
  if (parts.size() != 4 || parts[0].rfind("\\\\?\\", 0) != 0 ||
      parts[2].empty() || parts[3].size() < 2 || parts[3].front() != '{' ||
      parts[3].back() != '}') {
    return std::nullopt;
  }
  return parts;
}

}  // namespace

std::string MaskedShape(const std::string& text) {
  std::string shape;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      // One 'x' per code point: its continuation bytes add nothing.
      if ((c & 0xC0) != 0x80) shape += 'x';
    } else if (std::isdigit(c)) {
      shape += '0';
    } else if (std::isalpha(c)) {
      shape += 'x';
    } else {
      shape += static_cast<char>(c);
    }
  }
  return shape;
}

std::string MaskedDeviceId(const std::string& id) {
  const auto parts = DeviceIdParts(id);
  if (!parts) return MaskedShape(id);
  return (*parts)[0] + "#" + (*parts)[1] + "#" + MaskedShape((*parts)[2]) +
         "#" + (*parts)[3];
}

Scrubber::Scrubber(const std::optional<ValueList>& devices) {
  if (!devices) return;
  for (const EncodableValue& device : *devices) {
    const std::string name = StringField(device, "friendlyName");
    if (!name.empty()) patterns_.push_back({name, kFriendlyNameMask, false});
    const auto parts = DeviceIdParts(StringField(device, "id"));
    if (parts && (*parts)[2].size() >= kLeastInstanceToScrub) {
      patterns_.push_back({(*parts)[2], MaskedShape((*parts)[2]), true});
    }
  }
  // The longest first, so that a name holding another is replaced whole.
  std::sort(patterns_.begin(), patterns_.end(),
            [](const Pattern& a, const Pattern& b) {
              return a.text.size() > b.text.size();
            });
}

std::string Scrubber::operator()(const std::string& text) const {
  // One pass, so that a replacement is never matched again.
  std::string clean;
  for (size_t i = 0; i < text.size();) {
    const auto match = std::find_if(
        patterns_.begin(), patterns_.end(),
        [&](const Pattern& pattern) { return Matches(text, i, pattern); });
    if (match != patterns_.end()) {
      clean += match->replacement;
      i += match->text.size();
    } else {
      clean += text[i++];
    }
  }
  return clean;
}

bool Scrubber::Matches(const std::string& text, size_t at, const Pattern& p) {
  if (text.size() - at < p.text.size()) return false;
  for (size_t k = 0; k < p.text.size(); ++k) {
    const unsigned char a = static_cast<unsigned char>(text[at + k]);
    const unsigned char b = static_cast<unsigned char>(p.text[k]);
    if (a != b && !(p.any_case && std::tolower(a) == std::tolower(b))) {
      return false;
    }
  }
  return true;
}

std::string PropertyValueText(const std::string& key, const std::string& type,
                              const EncodableValue* value,
                              const Scrubber& clean) {
  if (value == nullptr) return "(not shown)";
  if (const auto* text = std::get_if<std::string>(value)) {
    if (key == kFriendlyNameKey) return kFriendlyNameMask;
    for (const char* id_key : kIdKeys) {
      if (key == id_key) return MaskedShape(*text);
    }
    return clean(*text);
  }
  int64_t number = 0;
  if (const auto* wide = std::get_if<int64_t>(value)) {
    number = *wide;
  } else if (const auto* narrow = std::get_if<int32_t>(value)) {
    number = *narrow;
  } else if (const auto* flag = std::get_if<bool>(value)) {
    return *flag ? "true" : "false";
  } else {
    return "(not shown)";
  }
  if (type != "VT_ERROR") return std::to_string(number);
  char code[16];
  std::snprintf(code, sizeof(code), "0x%08X",
                static_cast<unsigned>(static_cast<uint32_t>(number)));
  return code;
}

}  // namespace importer
