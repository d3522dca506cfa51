// UTF-16 <-> UTF-8 for the stand-in's own use (paths, registry names, the
// command line), with the same conversion rules as the public functions.
#ifndef SNAPFERRY_PLATFORM_WIN32_SRC_WIDE_TEXT_H_
#define SNAPFERRY_PLATFORM_WIN32_SRC_WIDE_TEXT_H_

#include <string>

namespace win32_standin::internal {

// A NUL-terminated UTF-16 string; unpaired surrogates become U+FFFD.
std::string NarrowFromWide(const wchar_t* text);
// Invalid UTF-8 becomes U+FFFD.
std::wstring WideFromNarrow(const std::string& text);

}  // namespace win32_standin::internal

#endif  // SNAPFERRY_PLATFORM_WIN32_SRC_WIDE_TEXT_H_
