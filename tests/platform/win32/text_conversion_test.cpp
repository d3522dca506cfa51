#include <windows.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace {

struct Wide {
  int result;
  DWORD error;
  std::vector<unsigned> units;
};

Wide ToWide(const std::string& bytes, DWORD flags) {
  WCHAR out[64];
  SetLastError(0);
  const int result = MultiByteToWideChar(
      CP_UTF8, flags, bytes.data(), static_cast<int>(bytes.size()), out, 64);
  Wide wide{result, GetLastError(), {}};
  for (int i = 0; i < result; ++i)
    wide.units.push_back(static_cast<unsigned>(out[i]) & 0xFFFF);
  return wide;
}

struct Narrow {
  int result;
  DWORD error;
  std::string bytes;
};

Narrow ToUtf8(const std::vector<unsigned>& units, DWORD flags) {
  std::wstring text;
  for (unsigned unit : units) text.push_back(static_cast<wchar_t>(unit));
  char out[64];
  SetLastError(0);
  const int result = WideCharToMultiByte(CP_UTF8, flags, text.data(),
                                         static_cast<int>(text.size()), out, 64,
                                         nullptr, nullptr);
  return {result, GetLastError(), std::string(out, result > 0 ? result : 0)};
}

constexpr unsigned kFffd = 0xFFFD;

TEST(Utf8ToUtf16, CharactersOutsideTheBmpBecomeTwoElements) {
  const Wide wide = ToWide("a\xF0\x9F\x98\x80\xC3\xA9", 0);
  EXPECT_EQ(wide.units, (std::vector<unsigned>{'a', 0xD83D, 0xDE00, 0xE9}));
}

// Each case: the ill-formed input and the units Windows produces. A lead
// byte with the continuation bytes read before the error was seen makes one
// U+FFFD; a second byte that makes the sequence overlong, a surrogate or too
// large belongs to it; a byte that is no continuation starts afresh.
TEST(Utf8ToUtf16, IllFormedInputIsReplacedSequenceBySequence) {
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<unsigned> units;
  } cases[] = {
      {"stray continuation", "a\x80z", {'a', kFffd, 'z'}},
      {"two stray continuations", "\x80\x80", {kFffd, kFffd}},
      {"C0 overlong", "\xC0\x80z", {kFffd, kFffd, 'z'}},
      {"E0 overlong", "\xE0\x80z", {kFffd, 'z'}},
      {"F0 overlong", "\xF0\x80\x80\x80z", {kFffd, kFffd, kFffd, 'z'}},
      {"encoded surrogate", "\xED\xA0\x80z", {kFffd, kFffd, 'z'}},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80z", {kFffd, kFffd, kFffd, 'z'}},
      {"F5 lead", "\xF5\x80\x80\x80z", {kFffd, kFffd, kFffd, kFffd, 'z'}},
      {"FF byte", "\xFFz", {kFffd, 'z'}},
      {"cut by ASCII", "\xE2\x82\x41", {kFffd, 'A'}},
      {"cut four-byte", "\xF0\x9F\x98z", {kFffd, 'z'}},
      {"cut at the end", "a\xE2\x82", {'a', kFffd}},
      {"lone lead at the end", "\xC2", {kFffd}},
      {"extra continuation", "\xE1\x80\x80\x80", {0x1000, kFffd}},
  };
  for (const Case& c : cases) {
    const Wide lenient = ToWide(c.bytes, 0);
    EXPECT_EQ(lenient.units, c.units) << c.name;
    const Wide strict = ToWide(c.bytes, MB_ERR_INVALID_CHARS);
    EXPECT_EQ(strict.result, 0) << c.name;
    EXPECT_EQ(strict.error, static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION))
        << c.name;
  }
}

TEST(Utf8ToUtf16, NoncharactersEmbeddedNulAndTheLastCodePointAreValid) {
  EXPECT_EQ(ToWide("\xEF\xBF\xBF", MB_ERR_INVALID_CHARS).units,
            (std::vector<unsigned>{0xFFFF}));
  EXPECT_EQ(ToWide(std::string("a\0b", 3), MB_ERR_INVALID_CHARS).units,
            (std::vector<unsigned>{'a', 0, 'b'}));
  EXPECT_EQ(ToWide("\xF4\x8F\xBF\xBF", MB_ERR_INVALID_CHARS).units,
            (std::vector<unsigned>{0xDBFF, 0xDFFF}));
}

TEST(Utf8ToUtf16, MeasuresConvertsAndRefusesShortBuffers) {
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, nullptr, 0), 3);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, nullptr, 0), 4);
  WCHAR out[4] = {};
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, out, 4), 4);
  EXPECT_EQ(out[3], L'\0');
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, out, 2), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 0, out, 4), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\x80", 2,
                                nullptr, 0),
            0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(Utf16ToUtf8, PairsJoinAndUnpairedSurrogatesAreReplacedOrRefused) {
  EXPECT_EQ(ToUtf8({0xD83D, 0xDE00}, WC_ERR_INVALID_CHARS).bytes,
            "\xF0\x9F\x98\x80");
  EXPECT_EQ(ToUtf8({0xFFFF, 0xE9}, WC_ERR_INVALID_CHARS).bytes,
            "\xEF\xBF\xBF\xC3\xA9");
  struct Case {
    const char* name;
    std::vector<unsigned> units;
    std::string bytes;
  } cases[] = {
      {"lone high", {'a', 0xD800, 'z'}, "a\xEF\xBF\xBDz"},
      {"lone low", {'a', 0xDC00, 'z'}, "a\xEF\xBF\xBDz"},
      {"high at the end", {'a', 0xD83D}, "a\xEF\xBF\xBD"},
      {"reversed pair", {0xDE00, 0xD83D}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToUtf8(c.units, 0).bytes, c.bytes) << c.name;
    const Narrow strict = ToUtf8(c.units, WC_ERR_INVALID_CHARS);
    EXPECT_EQ(strict.result, 0) << c.name;
    EXPECT_EQ(strict.error, static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION))
        << c.name;
  }
}

TEST(Utf16ToUtf8, MeasuresAndRefusesAPartialCharacter) {
  const WCHAR text[] = {L'a', 0x20AC, 0};
  SetLastError(0);
  EXPECT_EQ(
      WideCharToMultiByte(CP_UTF8, 0, text, 2, nullptr, 0, nullptr, nullptr),
      4);
  EXPECT_EQ(
      WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr),
      5);
  char out[8];
  EXPECT_EQ(
      WideCharToMultiByte(CP_UTF8, 0, text + 1, 1, out, 2, nullptr, nullptr),
      0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, 0, out, 8, nullptr, nullptr),
            0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  const WCHAR lone[] = {0xD800};
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, 1, nullptr,
                                0, nullptr, nullptr),
            0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

}  // namespace
