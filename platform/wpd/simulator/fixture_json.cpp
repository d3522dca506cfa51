// Fixture files: the JSON form of a Fixture, for whole-process runs.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/wpd/simulator/model.h"

namespace wpd_sim {
namespace {

// Ordered, so that faults and mistakes are met in the order of the file.
using Json = nlohmann::ordered_json;

// An error is one line on standard error, whatever the file holds: control
// characters from keys and values are written as \xNN.
std::string OneLine(const std::string& text) {
  std::string out;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      static const char kHex[] = "0123456789ABCDEF";
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

// UTF-8 (already validated by the parser) to UTF-16 code units, one per
// wchar_t, as the rest of the system holds wide text.
std::wstring Widen(const std::string& text) {
  std::wstring out;
  for (size_t i = 0; i < text.size();) {
    auto byte = static_cast<unsigned char>(text[i]);
    uint32_t code;
    int extra;
    if (byte < 0x80) {
      code = byte;
      extra = 0;
    } else if (byte < 0xE0) {
      code = byte & 0x1F;
      extra = 1;
    } else if (byte < 0xF0) {
      code = byte & 0x0F;
      extra = 2;
    } else {
      code = byte & 0x07;
      extra = 3;
    }
    ++i;
    for (int k = 0; k < extra && i < text.size(); ++k, ++i) {
      code = (code << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (code >> 10));
      out += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<wchar_t>(code);
    }
  }
  return out;
}

class Parser {
 public:
  const std::string& error() const { return error_; }

  bool Top(const Json& root, Fixture* fixture) {
    if (!root.is_object()) return Fail("", "the top level must be an object");
    if (!Keys(root, "",
              {"devices", "fail", "getDevicesOvercount", "randomFaults"})) {
      return false;
    }
    if (root.contains("randomFaults") &&
        !Random(root["randomFaults"], "randomFaults",
                &fixture->random_faults)) {
      return false;
    }
    if (root.contains("getDevicesOvercount")) {
      uint64_t count;
      if (!Unsigned(root["getDevicesOvercount"], "getDevicesOvercount", 1000,
                    &count)) {
        return false;
      }
      fixture->get_devices_overcount = static_cast<uint32_t>(count);
    }
    if (root.contains("fail") &&
        !Faults(root["fail"], "fail", CallScope::kProcess, &fixture->faults)) {
      return false;
    }
    if (!root.contains("devices")) return true;
    const Json& devices = root["devices"];
    if (!devices.is_array()) return Fail("devices", "must be an array");
    for (size_t i = 0; i < devices.size(); ++i) {
      std::string path = "devices[" + std::to_string(i) + "]";
      if (!Device(devices[i], path, &fixture->devices.emplace_back())) {
        return false;
      }
    }
    return ValidateFixture(*fixture, &error_);
  }

 private:
  bool Fail(const std::string& path, const std::string& what) {
    error_ = OneLine(path.empty() ? what : path + ": " + what);
    return false;
  }

  bool Keys(const Json& object, const std::string& path,
            std::initializer_list<const char*> known) {
    for (const auto& item : object.items()) {
      bool found = false;
      for (const char* key : known) found = found || item.key() == key;
      if (!found) {
        return Fail(Join(path, item.key()), "unknown key");
      }
    }
    return true;
  }

  static std::string Join(const std::string& path, const std::string& key) {
    return path.empty() ? key : path + "." + key;
  }

  bool Text(const Json& value, const std::string& path, std::wstring* out) {
    if (!value.is_string()) return Fail(path, "must be a string");
    *out = Widen(value.get<std::string>());
    return true;
  }

  bool OptionalText(const Json& object, const char* key,
                    const std::string& path, std::optional<std::wstring>* out) {
    if (!object.contains(key)) return true;
    std::wstring text;
    if (!Text(object[key], Join(path, key), &text)) return false;
    *out = std::move(text);
    return true;
  }

  template <typename Number>
  bool OptionalUnsigned(const Json& object, const char* key,
                        const std::string& path, std::optional<Number>* out) {
    if (!object.contains(key)) return true;
    uint64_t number;
    if (!Unsigned(object[key], Join(path, key),
                  std::numeric_limits<Number>::max(), &number)) {
      return false;
    }
    *out = static_cast<Number>(number);
    return true;
  }

  bool Unsigned(const Json& value, const std::string& path, uint64_t max,
                uint64_t* out) {
    if (!value.is_number_integer() ||
        (!value.is_number_unsigned() && value.get<int64_t>() < 0)) {
      return Fail(path, "must be a non-negative integer");
    }
    uint64_t number = value.get<uint64_t>();
    if (number > max) {
      return Fail(path, "is larger than " + std::to_string(max));
    }
    *out = number;
    return true;
  }

  // HRESULTs may be written signed (-2147024891) or unsigned (2147942405).
  bool Hresult(const Json& value, const std::string& path, HRESULT* out) {
    if (value.is_number_unsigned()) {
      uint64_t number = value.get<uint64_t>();
      if (number <= std::numeric_limits<uint32_t>::max()) {
        *out = static_cast<HRESULT>(static_cast<uint32_t>(number));
        return true;
      }
    } else if (value.is_number_integer()) {
      int64_t number = value.get<int64_t>();
      if (number >= std::numeric_limits<int32_t>::min()) {
        *out = static_cast<HRESULT>(number);
        return true;
      }
    }
    return Fail(path,
                "must be an HRESULT: an integer from -2147483648 to "
                "4294967295");
  }

  bool Random(const Json& value, const std::string& path, RandomFaults* out) {
    if (!value.is_object()) return Fail(path, "must be an object");
    if (!Keys(value, path, {"rate", "seed", "hresults"})) return false;
    if (value.contains("rate")) {
      const Json& rate = value["rate"];
      if (!rate.is_number() || !(rate.get<double>() >= 0) ||
          rate.get<double>() > 1) {
        return Fail(Join(path, "rate"), "must be a number from 0 to 1");
      }
      out->rate = rate.get<double>();
    }
    if (value.contains("seed") &&
        !Unsigned(value["seed"], Join(path, "seed"),
                  std::numeric_limits<uint64_t>::max(), &out->seed)) {
      return false;
    }
    if (!value.contains("hresults")) return true;
    const Json& codes = value["hresults"];
    const std::string at = Join(path, "hresults");
    if (!codes.is_array()) return Fail(at, "must be an array");
    for (size_t i = 0; i < codes.size(); ++i) {
      HRESULT hr;
      if (!Hresult(codes[i], at + "[" + std::to_string(i) + "]", &hr)) {
        return false;
      }
      out->hresults.push_back(hr);
    }
    return true;
  }

  bool Faults(const Json& value, const std::string& path, CallScope scope,
              FaultList* out) {
    if (!value.is_object()) return Fail(path, "must be an object");
    for (const auto& item : value.items()) {
      std::string at = Join(path, item.key());
      std::optional<Call> call = CallFromName(item.key());
      if (!call) return Fail(at, "no such call");
      CallScope call_scope = ScopeOf(*call);
      bool fits =
          scope == CallScope::kProcess  ? call_scope == CallScope::kProcess
          : scope == CallScope::kDevice ? call_scope != CallScope::kProcess
                                        : call_scope == CallScope::kObject;
      if (!fits) {
        return Fail(at, scope == CallScope::kProcess ? "not a process-wide call"
                        : scope == CallScope::kDevice
                            ? "not a call that a device can fail"
                            : "not a call that an object can fail");
      }
      Fault fault;
      const Json& setup = item.value();
      if (setup.is_object()) {
        // A device's bulk fault counts the objects of each request; an
        // object's, its bulk reads.
        const bool items =
            *call == Call::kNext ||
            (*call == Call::kBulkValues && scope == CallScope::kDevice);
        const char* after = *call == Call::kRead ? "afterBytes"
                            : items              ? "afterItems"
                                                 : "afterCalls";
        if (!Keys(setup, at, {"hresult", after, "hang", "unplug"})) {
          return false;
        }
        for (auto [key, action] :
             {std::pair{"hang", Fault::Action::kHang},
              std::pair{"unplug", Fault::Action::kUnplug}}) {
          if (!setup.contains(key)) continue;
          if (setup[key] != true) return Fail(Join(at, key), "must be true");
          if (fault.action != Fault::Action::kFail ||
              setup.contains("hresult")) {
            return Fail(at, "takes one of \"hresult\", \"hang\", \"unplug\"");
          }
          if (action == Fault::Action::kHang && *call != Call::kRead &&
              !(*call == Call::kBulkValues && scope == CallScope::kDevice)) {
            return Fail(Join(at, key), scope == CallScope::kDevice
                                           ? "only a Read or BulkValues can hang"
                                           : "only a Read can hang");
          }
          if (action == Fault::Action::kUnplug &&
              call_scope == CallScope::kProcess) {
            return Fail(Join(at, key), "a process-wide call cannot unplug");
          }
          fault.action = action;
        }
        if (fault.action == Fault::Action::kFail) {
          if (!setup.contains("hresult")) {
            return Fail(at, "needs \"hresult\"");
          }
          if (!Hresult(setup["hresult"], Join(at, "hresult"), &fault.hresult)) {
            return false;
          }
        }
        if (setup.contains(after) &&
            !Unsigned(setup[after], Join(at, after),
                      std::numeric_limits<uint64_t>::max(), &fault.after)) {
          return false;
        }
      } else if (!Hresult(setup, at, &fault.hresult)) {
        return false;
      }
      out->emplace_back(*call, fault);
    }
    return true;
  }

  bool Date(const Json& value, const std::string& path, DateProperty* out) {
    if (value.is_string()) {
      const std::string text = value.get<std::string>();
      int y, mo, d, h, mi, s;
      char tail;
      if (text.size() != 19 ||
          std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c", &y, &mo, &d,
                      &h, &mi, &s, &tail) != 6 ||
          text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
          text[13] != ':' || text[16] != ':') {
        return Fail(path, "must be a date written YYYY-MM-DDTHH:MM:SS");
      }
      static const int kDays[] = {31, 29, 31, 30, 31, 30,
                                  31, 31, 30, 31, 30, 31};
      bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
      if (y < 100 || mo < 1 || mo > 12 || d < 1 || d > kDays[mo - 1] ||
          (mo == 2 && d == 29 && !leap) || h > 23 || mi > 59 || s > 59) {
        return Fail(path, "\"" + text + "\" is not a valid date and time");
      }
      *out = DateProperty::At(y, mo, d, h, mi, s);
      return true;
    }
    if (value.is_object() && value.size() == 1 && value.contains("string")) {
      std::wstring text;
      if (!Text(value["string"], Join(path, "string"), &text)) return false;
      *out = DateProperty::String(std::move(text));
      return true;
    }
    if (value.is_object() && value.size() == 1 && value.contains("uint")) {
      uint64_t number;
      if (!Unsigned(value["uint"], Join(path, "uint"),
                    std::numeric_limits<uint64_t>::max(), &number)) {
        return false;
      }
      *out = DateProperty::Uint(number);
      return true;
    }
    return Fail(path,
                "must be \"YYYY-MM-DDTHH:MM:SS\", {\"string\": ...} or "
                "{\"uint\": ...}");
  }

  bool Data(const Json& value, const std::string& path, ObjectSpec* object) {
    if (value.is_string()) {
      object->Data(value.get<std::string>());
      return true;
    }
    if (value.is_object() && value.size() == 1 && value.contains("hex")) {
      if (!value["hex"].is_string()) {
        return Fail(Join(path, "hex"), "must be a string");
      }
      const std::string hex = value["hex"].get<std::string>();
      if (hex.size() % 2 != 0) {
        return Fail(Join(path, "hex"), "has an odd number of digits");
      }
      std::string bytes;
      for (size_t i = 0; i < hex.size(); i += 2) {
        int high = Digit(hex[i]);
        int low = Digit(hex[i + 1]);
        if (high < 0 || low < 0) {
          return Fail(Join(path, "hex"),
                      "holds a character that is not a "
                      "hexadecimal digit");
        }
        bytes += static_cast<char>(high * 16 + low);
      }
      object->Data(std::move(bytes));
      return true;
    }
    if (value.is_object() && value.size() == 1 && value.contains("pattern")) {
      uint64_t size;
      if (!Unsigned(value["pattern"], Join(path, "pattern"),
                    std::numeric_limits<uint64_t>::max(), &size)) {
        return false;
      }
      object->Pattern(size);
      return true;
    }
    return Fail(path, "must be a string, {\"hex\": ...} or {\"pattern\": ...}");
  }

  // "S_OK" or "S_FALSE".
  bool SuccessCode(const Json& value, const std::string& path, HRESULT* out) {
    if (value == "S_OK" || value == "S_FALSE") {
      *out = value == "S_OK" ? S_OK : S_FALSE;
      return true;
    }
    return Fail(path, "must be \"S_OK\" or \"S_FALSE\"");
  }

  // An MTP object format code: a number, or "0x" and four hex digits.
  bool Format(const Json& value, const std::string& path,
              std::optional<uint16_t>* out) {
    if (value.is_string()) {
      const std::string text = value.get<std::string>();
      int code = 0;
      bool ok = text.size() == 6 && text[0] == '0' && text[1] == 'x';
      for (size_t i = 2; ok && i < text.size(); ++i) {
        int digit = Digit(text[i]);
        ok = digit >= 0;
        code = code * 16 + digit;
      }
      if (ok) {
        *out = static_cast<uint16_t>(code);
        return true;
      }
    } else if (value.is_number_unsigned() && value.get<uint64_t>() <= 0xFFFF) {
      *out = static_cast<uint16_t>(value.get<uint64_t>());
      return true;
    }
    return Fail(path, "must be a format code: 0 to 65535, or \"0x3801\"");
  }

  static int Digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  bool Object(const Json& value, const std::string& path, ObjectSpec* object) {
    if (!value.is_object()) return Fail(path, "must be an object");
    if (!Keys(value, path,
              {"id", "parent", "contentType", "name", "originalFileName",
               "size", "dateCreated", "dateModified", "canDelete", "format",
               "persistentUniqueId", "containerFunctionalObjectId",
               "storageAccessCapability", "fileSystemType", "capacity",
               "freeSpace", "data", "thumbnail",
               "deleteAnswer", "deleteKeepsObject", "fail"})) {
      return false;
    }
    if (!value.contains("id")) return Fail(path, "needs an \"id\"");
    if (!Text(value["id"], Join(path, "id"), &object->id)) return false;
    if (value.contains("parent") &&
        !Text(value["parent"], Join(path, "parent"), &object->parent)) {
      return false;
    }
    if (value.contains("contentType")) {
      const Json& type = value["contentType"];
      static const std::pair<const char*, ContentType> kTypes[] = {
          {"functional", ContentType::kFunctional},
          {"folder", ContentType::kFolder},
          {"image", ContentType::kImage},
          {"video", ContentType::kVideo},
          {"generic", ContentType::kGeneric},
          {"unspecified", ContentType::kUnspecified},
          {"none", ContentType::kNone}};
      bool found = false;
      for (const auto& [name, content_type] : kTypes) {
        if (type.is_string() && type.get<std::string>() == name) {
          object->content_type = content_type;
          found = true;
        }
      }
      if (!found) {
        return Fail(Join(path, "contentType"),
                    "must be one of \"functional\", \"folder\", \"image\", "
                    "\"video\", \"generic\", \"unspecified\", \"none\"");
      }
    }
    if (!OptionalText(value, "name", path, &object->name) ||
        !OptionalText(value, "originalFileName", path,
                      &object->original_file_name) ||
        !OptionalText(value, "persistentUniqueId", path,
                      &object->persistent_unique_id) ||
        !OptionalText(value, "containerFunctionalObjectId", path,
                      &object->container) ||
        !OptionalText(value, "fileSystemType", path,
                      &object->file_system_type)) {
      return false;
    }
    if (value.contains("format") &&
        !Format(value["format"], Join(path, "format"), &object->format)) {
      return false;
    }
    if (!OptionalUnsigned(value, "capacity", path, &object->capacity) ||
        !OptionalUnsigned(value, "freeSpace", path, &object->free_space)) {
      return false;
    }
    if (value.contains("storageAccessCapability")) {
      uint64_t access;
      if (!Unsigned(value["storageAccessCapability"],
                    Join(path, "storageAccessCapability"),
                    std::numeric_limits<uint32_t>::max(), &access)) {
        return false;
      }
      object->storage_access = static_cast<uint32_t>(access);
    }
    if (value.contains("size")) {
      uint64_t size;
      if (!Unsigned(value["size"], Join(path, "size"),
                    std::numeric_limits<uint64_t>::max(), &size)) {
        return false;
      }
      object->size = size;
    }
    if (value.contains("dateCreated") &&
        !Date(value["dateCreated"], Join(path, "dateCreated"),
              &object->date_created)) {
      return false;
    }
    if (value.contains("dateModified") &&
        !Date(value["dateModified"], Join(path, "dateModified"),
              &object->date_modified)) {
      return false;
    }
    if (value.contains("canDelete")) {
      const Json& flag = value["canDelete"];
      if (flag.is_boolean()) {
        object->CanDelete(flag.get<bool>());
      } else if (flag.is_number_integer() && !flag.is_number_unsigned() &&
                 flag.get<int64_t>() >= std::numeric_limits<int32_t>::min()) {
        object->can_delete = static_cast<int32_t>(flag.get<int64_t>());
      } else if (flag.is_number_unsigned() &&
                 flag.get<uint64_t>() <=
                     static_cast<uint64_t>(
                         std::numeric_limits<int32_t>::max())) {
        object->can_delete = static_cast<int32_t>(flag.get<uint64_t>());
      } else {
        return Fail(Join(path, "canDelete"),
                    "must be true, false or a 32-bit integer");
      }
    }
    if (value.contains("data") &&
        !Data(value["data"], Join(path, "data"), object)) {
      return false;
    }
    if (value.contains("thumbnail")) {
      // Read as data, then moved over to the thumbnail.
      ObjectSpec picture;
      if (!Data(value["thumbnail"], Join(path, "thumbnail"), &picture)) {
        return false;
      }
      object->thumbnail_kind = picture.data_kind;
      object->thumbnail_bytes = std::move(picture.bytes);
      object->thumbnail_pattern_size = picture.pattern_size;
    }
    if (value.contains("deleteAnswer") &&
        !SuccessCode(value["deleteAnswer"], Join(path, "deleteAnswer"),
                     &object->delete_answer)) {
      return false;
    }
    if (value.contains("deleteKeepsObject")) {
      if (!value["deleteKeepsObject"].is_boolean()) {
        return Fail(Join(path, "deleteKeepsObject"), "must be true or false");
      }
      object->delete_keeps_object = value["deleteKeepsObject"].get<bool>();
    }
    if (value.contains("fail") &&
        !Faults(value["fail"], Join(path, "fail"), CallScope::kObject,
                &object->faults)) {
      return false;
    }
    return true;
  }

  // A profile's name, or an object of costs, optionally starting from a
  // profile: {"profile": "usb2", "roundTripMs": 1}.
  bool Link(const Json& value, const std::string& path,
            std::optional<LinkSpec>* out) {
    static const char kProfiles[] = "must be \"usb2\" or \"usbc\"";
    if (value.is_string()) {
      *out = LinkSpec::Profile(value.get<std::string>());
      return out->has_value() || Fail(path, kProfiles);
    }
    if (!value.is_object()) {
      return Fail(path, "must be a profile's name or an object");
    }
    if (!Keys(value, path,
              {"profile", "openMs", "roundTripMs", "readCallMs",
               "megabytesPerSecond", "thumbnailMs"})) {
      return false;
    }
    LinkSpec spec;
    if (value.contains("profile")) {
      const Json& name = value["profile"];
      std::optional<LinkSpec> profile;
      if (name.is_string())
        profile = LinkSpec::Profile(name.get<std::string>());
      if (!profile) return Fail(Join(path, "profile"), kProfiles);
      spec = *profile;
    }
    for (auto [key, field] :
         {std::pair{"openMs", &spec.open_ms},
          std::pair{"roundTripMs", &spec.round_trip_ms},
          std::pair{"readCallMs", &spec.read_call_ms},
          std::pair{"megabytesPerSecond", &spec.megabytes_per_second},
          std::pair{"thumbnailMs", &spec.thumbnail_ms}}) {
      if (!value.contains(key)) continue;
      const Json& number = value[key];
      // Costs of at most a minute a call, so that a slip of the pen
      // cannot hang a run for good.
      if (!number.is_number() || !(number.get<double>() >= 0) ||
          number.get<double>() > 60000) {
        return Fail(Join(path, key), "must be a number from 0 to 60000");
      }
      *field = number.get<double>();
    }
    *out = spec;
    return true;
  }

  bool Device(const Json& value, const std::string& path, DeviceSpec* device) {
    if (!value.is_object()) return Fail(path, "must be an object");
    if (!Keys(
            value, path,
            {"id", "friendlyName", "manufacturer", "description", "openHresult",
             "optimalTransferSize", "maxReadSize", "shortReadResult", "locked",
             "unlockAfterMs", "reset", "noticeUnplugAfterMs", "goneHresult",
             "nextOvercount", "reusesIdsOnReplug", "bulk", "link", "fail",
             "objects", "model", "firmwareVersion", "protocol", "serialNumber",
             "powerLevel", "powerSource", "supportsNonConsumable"})) {
      return false;
    }
    if (!value.contains("id")) return Fail(path, "needs an \"id\"");
    if (!Text(value["id"], Join(path, "id"), &device->id) ||
        !OptionalText(value, "friendlyName", path, &device->friendly_name) ||
        !OptionalText(value, "manufacturer", path, &device->manufacturer) ||
        !OptionalText(value, "description", path, &device->description)) {
      return false;
    }
    DeviceSpec::Properties& own = device->properties;
    if (!OptionalText(value, "model", path, &own.model) ||
        !OptionalText(value, "firmwareVersion", path, &own.firmware_version) ||
        !OptionalText(value, "protocol", path, &own.protocol) ||
        !OptionalText(value, "serialNumber", path, &own.serial_number) ||
        !OptionalUnsigned(value, "powerLevel", path, &own.power_level) ||
        !OptionalUnsigned(value, "powerSource", path, &own.power_source)) {
      return false;
    }
    if (value.contains("supportsNonConsumable")) {
      if (!value["supportsNonConsumable"].is_boolean()) {
        return Fail(Join(path, "supportsNonConsumable"),
                    "must be true or false");
      }
      own.supports_non_consumable = value["supportsNonConsumable"].get<bool>();
    }
    if ((value.contains("openHresult") &&
         !Hresult(value["openHresult"], Join(path, "openHresult"),
                  &device->open_hresult)) ||
        (value.contains("goneHresult") &&
         !Hresult(value["goneHresult"], Join(path, "goneHresult"),
                  &device->gone_hresult))) {
      return false;
    }
    for (auto [key, field] :
         {std::pair{"locked", &device->locked},
          std::pair{"reset", &device->reset},
          std::pair{"reusesIdsOnReplug", &device->reuses_ids_on_replug},
          std::pair{"bulk", &device->bulk}}) {
      if (!value.contains(key)) continue;
      if (!value[key].is_boolean()) {
        return Fail(Join(path, key), "must be true or false");
      }
      *field = value[key].get<bool>();
    }
    if (value.contains("unlockAfterMs")) {
      uint64_t delay;
      if (!Unsigned(value["unlockAfterMs"], Join(path, "unlockAfterMs"),
                    std::numeric_limits<uint32_t>::max(), &delay)) {
        return false;
      }
      device->unlock_after_ms = static_cast<uint32_t>(delay);
    }
    if (value.contains("noticeUnplugAfterMs")) {
      uint64_t delay;
      if (!Unsigned(value["noticeUnplugAfterMs"],
                    Join(path, "noticeUnplugAfterMs"),
                    std::numeric_limits<uint32_t>::max(), &delay)) {
        return false;
      }
      device->notice_unplug_after_ms = static_cast<uint32_t>(delay);
    }
    if (value.contains("nextOvercount")) {
      uint64_t count;
      if (!Unsigned(value["nextOvercount"], Join(path, "nextOvercount"), 1000,
                    &count)) {
        return false;
      }
      device->next_overcount = static_cast<uint32_t>(count);
    }
    for (auto [key, field] :
         {std::pair{"optimalTransferSize", &device->optimal_transfer_size},
          std::pair{"maxReadSize", &device->max_read_size}}) {
      if (!value.contains(key)) continue;
      uint64_t size;
      if (!Unsigned(value[key], Join(path, key),
                    std::numeric_limits<uint32_t>::max(), &size)) {
        return false;
      }
      *field = static_cast<DWORD>(size);
    }
    if (value.contains("shortReadResult")) {
      HRESULT result = S_OK;
      if (!SuccessCode(value["shortReadResult"], Join(path, "shortReadResult"),
                       &result)) {
        return false;
      }
      device->short_read_is_s_false = result == S_FALSE;
    }
    if (value.contains("link") &&
        !Link(value["link"], Join(path, "link"), &device->link)) {
      return false;
    }
    if (value.contains("fail") &&
        !Faults(value["fail"], Join(path, "fail"), CallScope::kDevice,
                &device->faults)) {
      return false;
    }
    if (!value.contains("objects")) return true;
    const Json& objects = value["objects"];
    if (!objects.is_array())
      return Fail(Join(path, "objects"), "must be an array");
    for (size_t i = 0; i < objects.size(); ++i) {
      std::string at = path + ".objects[" + std::to_string(i) + "]";
      if (!Object(objects[i], at, &device->objects.emplace_back()))
        return false;
    }
    return true;
  }

  std::string error_;
};

}  // namespace

bool ParseFixtureJson(const std::string& text, Fixture* fixture,
                      std::string* error) {
  Json root;
  try {
    root = Json::parse(text);
  } catch (const Json::exception& e) {
    // A syntax error, or a number too large for any type (out_of_range).
    // e.what() reads "[json.exception.parse_error.101] parse error at line
    // 3, column 7: ..."; keep what follows the tag.
    std::string what = e.what();
    size_t tag = what.find("] ");
    *error = "not valid JSON: " +
             OneLine(tag == std::string::npos ? what : what.substr(tag + 2));
    return false;
  }
  Fixture parsed;
  Parser parser;
  if (!parser.Top(root, &parsed)) {
    *error = parser.error();
    return false;
  }
  *fixture = std::move(parsed);
  return true;
}

bool LoadFixtureFile(const std::string& path, Fixture* fixture,
                     std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = "cannot be opened";
    return false;
  }
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) {
    *error = "cannot be read";
    return false;
  }
  return ParseFixtureJson(text.str(), fixture, error);
}

Fixture FixtureFromEnvironment() {
  const char* path = std::getenv("SNAPFERRY_DEVICES");
  if (path == nullptr || *path == '\0') return DemoFixture();
  Fixture fixture;
  std::string error;
  if (!LoadFixtureFile(path, &fixture, &error)) {
    std::fprintf(stderr, "SNAPFERRY_DEVICES: %s: %s; no device offered\n", path,
                 error.c_str());
    return Fixture();
  }
  return fixture;
}

}  // namespace wpd_sim
