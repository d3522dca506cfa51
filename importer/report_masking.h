// Masking for the device report (report_text.h): what names the phone or
// its owner never reaches the report. Ids keep only their shape, so a
// reader still sees what kind of id a device gives (its length, its
// punctuation); a device id keeps what tells the kind of device; friendly
// names (often the owner's name) are replaced wherever they appear.

#ifndef SNAPFERRY_IMPORTER_REPORT_MASKING_H_
#define SNAPFERRY_IMPORTER_REPORT_MASKING_H_

#include <optional>
#include <string>
#include <vector>

#include "messaging/encodable_value.h"

namespace importer {

// What stands for a friendly name in the report.
inline constexpr char kFriendlyNameMask[] = "<friendly name>";

// `text` with every ASCII letter replaced by 'x', every digit by '0' and
// every other character that is not ASCII (one per code point, UTF-8) by
// 'x'; ASCII punctuation and spaces stay, so the length and the shape show.
std::string MaskedShape(const std::string& text);

// A device id of the PnP form "\\?\usb#vid_05ac&pid_12a8&mi_00#<instance>#
// {guid}" (four parts between '#', the last a braced GUID) with its
// instance segment, which is often the device's serial number, masked; any
// other id is masked whole, since nothing says which part of it is safe.
std::string MaskedDeviceId(const std::string& id);

// Cleans the device's own texts (names, property values, messages): each
// friendly name of the devices listed becomes kFriendlyNameMask, and each
// device id's instance segment of 8 characters or more (a shorter one
// would mask ordinary words) its shape, letter case ignored, as ids come in
// either. A friendly name that is part of another text ("iPhone" in "Apple
// iPhone") is replaced there too: the owner's name matters more than the
// text it sits in.
class Scrubber {
 public:
  // `devices`: listDevices' answer; none: nothing to replace.
  explicit Scrubber(const std::optional<flutter::ValueList>& devices);

  std::string operator()(const std::string& text) const;

 private:
  struct Pattern {
    std::string text;
    std::string replacement;
    bool any_case;
  };
  static bool Matches(const std::string& text, size_t at, const Pattern& p);

  std::vector<Pattern> patterns_;
};

// A property's value as the report writes it: ids (WPD_OBJECT_ID and the
// other ids an object names) by their shape, WPD_DEVICE_FRIENDLY_NAME as
// kFriendlyNameMask, other texts cleaned by `clean`; integers in decimal
// (VT_ERROR's code in hex), booleans as true or false; "(not shown)" when
// the answer holds no value (a type it does not carry).
std::string PropertyValueText(const std::string& key, const std::string& type,
                              const flutter::EncodableValue* value,
                              const Scrubber& clean);

}  // namespace importer

#endif  // SNAPFERRY_IMPORTER_REPORT_MASKING_H_
