#ifndef SNAPFERRY_WPD_DATE_TEXT_H_
#define SNAPFERRY_WPD_DATE_TEXT_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string_view>

namespace snapferry {

// A date as the device layer reports it, "YYYY-MM-DDTHH:MM:SS", or empty,
// held in place. A listing holds one per file, and the text is one
// character longer than a std::string keeps without a heap block of its own.
class DateText {
 public:
  static constexpr size_t kCapacity = 19;

  DateText() = default;
  // Keeps the first kCapacity characters of `text`.
  DateText(std::string_view text)  // NOLINT(runtime/explicit): a text value
      : length_(static_cast<uint8_t>(std::min(text.size(), kCapacity))) {
    std::memcpy(text_, text.data(), length_);
  }
  DateText(const char* text)  // NOLINT(runtime/explicit): a text value
      : DateText(std::string_view(text)) {}

  std::string_view view() const { return std::string_view(text_, length_); }
  bool empty() const { return length_ == 0; }

  friend bool operator==(const DateText& date, std::string_view text) {
    return date.view() == text;
  }
  friend bool operator==(std::string_view text, const DateText& date) {
    return date.view() == text;
  }
  friend bool operator!=(const DateText& date, std::string_view text) {
    return date.view() != text;
  }
  friend bool operator!=(std::string_view text, const DateText& date) {
    return date.view() != text;
  }
  friend std::ostream& operator<<(std::ostream& out, const DateText& date) {
    return out << date.view();
  }

 private:
  char text_[kCapacity] = {};
  uint8_t length_ = 0;
};

}  // namespace snapferry

#endif  // SNAPFERRY_WPD_DATE_TEXT_H_
