// UTF-8 <-> UTF-16 with Windows's handling of ill-formed input.
#include <winbase.h>
#include <winerror.h>
#include <winnls.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "platform/win32/src/wide_text.h"

namespace {

constexpr uint32_t kReplacement = 0xFFFD;
constexpr uint32_t kInvalid = 0xFFFFFFFF;

bool IsContinuation(uint8_t byte) { return (byte & 0xC0) == 0x80; }

// Decodes one character at `*at`, advancing past what it used. An ill-formed
// sequence yields kInvalid and covers, as Windows does, the lead byte and the
// continuation bytes read before the sequence was seen to be wrong: a byte
// that is not a continuation is left for the next character, while a second
// byte that makes the sequence overlong, a surrogate or too large is part of
// the bad sequence.
uint32_t DecodeUtf8(const uint8_t** at, const uint8_t* end) {
  const uint8_t lead = *(*at)++;
  if (lead < 0x80) return lead;
  int length;
  uint32_t value;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
  } else {
    return kInvalid;  // a stray continuation, C0, C1 or F5..FF
  }
  for (int i = 1; i < length; ++i) {
    if (*at == end || !IsContinuation(**at)) return kInvalid;
    const uint8_t byte = *(*at)++;
    value = (value << 6) | (byte & 0x3F);
    if (i == 1) {
      const bool overlong =
          (lead == 0xE0 && byte < 0xA0) || (lead == 0xF0 && byte < 0x90);
      const bool surrogate = lead == 0xED && byte >= 0xA0;
      const bool too_large = lead == 0xF4 && byte >= 0x90;
      if (overlong || surrogate || too_large) return kInvalid;
    }
  }
  return value;
}

int Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

}  // namespace

int WINAPI MultiByteToWideChar(UINT code_page, DWORD flags, LPCCH source,
                               int source_size, LPWSTR dest, int dest_size) {
  if (code_page != CP_UTF8) return Fail(ERROR_INVALID_PARAMETER);
  if (source == nullptr || source_size == 0 || dest_size < 0 ||
      (dest_size > 0 && dest == nullptr)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if ((flags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS)) != 0) {
    return Fail(ERROR_INVALID_FLAGS);
  }
  const bool strict = (flags & MB_ERR_INVALID_CHARS) != 0;
  const size_t length = source_size < 0 ? std::strlen(source) + 1
                                        : static_cast<size_t>(source_size);
  const auto* at = reinterpret_cast<const uint8_t*>(source);
  const uint8_t* const end = at + length;
  int written = 0;
  bool short_buffer = false;
  auto put = [&](uint32_t unit) {
    if (dest_size == 0) {
      ++written;
    } else if (written < dest_size) {
      dest[written++] = static_cast<WCHAR>(unit);
    } else {
      short_buffer = true;
    }
  };
  while (at < end && !short_buffer) {
    uint32_t value = DecodeUtf8(&at, end);
    if (value == kInvalid) {
      if (strict) return Fail(ERROR_NO_UNICODE_TRANSLATION);
      value = kReplacement;
    }
    if (value >= 0x10000) {
      value -= 0x10000;
      put(0xD800 | (value >> 10));
      put(0xDC00 | (value & 0x3FF));
    } else {
      put(value);
    }
  }
  if (short_buffer) return Fail(ERROR_INSUFFICIENT_BUFFER);
  return written;
}

int WINAPI WideCharToMultiByte(UINT code_page, DWORD flags, LPCWCH source,
                               int source_size, LPSTR dest, int dest_size,
                               LPCCH default_char, LPBOOL used_default_char) {
  if (code_page != CP_UTF8) return Fail(ERROR_INVALID_PARAMETER);
  if (source == nullptr || source_size == 0 || dest_size < 0 ||
      (dest_size > 0 && dest == nullptr) || default_char != nullptr ||
      used_default_char != nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if ((flags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS)) != 0) {
    return Fail(ERROR_INVALID_FLAGS);
  }
  const bool strict = (flags & WC_ERR_INVALID_CHARS) != 0;
  const size_t length = source_size < 0 ? std::wcslen(source) + 1
                                        : static_cast<size_t>(source_size);
  int written = 0;
  for (size_t i = 0; i < length; ++i) {
    uint32_t value = static_cast<uint32_t>(source[i]);
    if (value >= 0xD800 && value <= 0xDBFF && i + 1 < length &&
        static_cast<uint32_t>(source[i + 1]) >= 0xDC00 &&
        static_cast<uint32_t>(source[i + 1]) <= 0xDFFF) {
      value = 0x10000 + ((value - 0xD800) << 10) +
              (static_cast<uint32_t>(source[++i]) - 0xDC00);
    } else if ((value >= 0xD800 && value <= 0xDFFF) || value > 0xFFFF) {
      if (strict) return Fail(ERROR_NO_UNICODE_TRANSLATION);
      value = kReplacement;
    }
    uint8_t bytes[4];
    int count;
    if (value < 0x80) {
      bytes[0] = static_cast<uint8_t>(value);
      count = 1;
    } else if (value < 0x800) {
      bytes[0] = static_cast<uint8_t>(0xC0 | (value >> 6));
      bytes[1] = static_cast<uint8_t>(0x80 | (value & 0x3F));
      count = 2;
    } else if (value < 0x10000) {
      bytes[0] = static_cast<uint8_t>(0xE0 | (value >> 12));
      bytes[1] = static_cast<uint8_t>(0x80 | ((value >> 6) & 0x3F));
      bytes[2] = static_cast<uint8_t>(0x80 | (value & 0x3F));
      count = 3;
    } else {
      bytes[0] = static_cast<uint8_t>(0xF0 | (value >> 18));
      bytes[1] = static_cast<uint8_t>(0x80 | ((value >> 12) & 0x3F));
      bytes[2] = static_cast<uint8_t>(0x80 | ((value >> 6) & 0x3F));
      bytes[3] = static_cast<uint8_t>(0x80 | (value & 0x3F));
      count = 4;
    }
    if (dest_size != 0) {
      // A character that does not fit whole fails the call.
      if (written + count > dest_size) return Fail(ERROR_INSUFFICIENT_BUFFER);
      std::memcpy(dest + written, bytes, count);
    }
    written += count;
  }
  return written;
}

namespace win32_standin::internal {

std::string NarrowFromWide(const wchar_t* text) {
  if (text == nullptr || *text == L'\0') return std::string();
  const DWORD saved = GetLastError();
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string result(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &result[0], size, nullptr, nullptr);
  result.resize(static_cast<size_t>(size) - 1);  // drop the NUL
  SetLastError(saved);
  return result;
}

std::wstring WideFromNarrow(const std::string& text) {
  if (text.empty()) return std::wstring();
  const DWORD saved = GetLastError();
  const int length = static_cast<int>(text.size());
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  std::wstring result(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), length, &result[0], size);
  SetLastError(saved);
  return result;
}

}  // namespace win32_standin::internal
