// An executable's version block as Windows reads it back from the file (the
// Properties dialog's Details tab), for the tests of the programs' version
// resources.

#ifndef SNAPFERRY_TESTS_VERSION_BLOCK_H_
#define SNAPFERRY_TESTS_VERSION_BLOCK_H_

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

namespace test_support {

class VersionBlock {
 public:
  // False when the file has no version block or it cannot be read.
  bool Load(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return false;
    block_.resize(size);
    return GetFileVersionInfoW(path.c_str(), 0, size, block_.data()) != FALSE;
  }

  // The fixed part; null when missing or of another size.
  const VS_FIXEDFILEINFO* Fixed() {
    void* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block_.data(), L"\\", &fixed, &length) ||
        length != sizeof(VS_FIXEDFILEINFO)) {
      return nullptr;
    }
    return static_cast<const VS_FIXEDFILEINFO*>(fixed);
  }

  // How many translations the block lists (0 when none), with the first
  // one's language and code page.
  UINT Translation(WORD* language, WORD* code_page) {
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block_.data(), L"\\VarFileInfo\\Translation", &value,
                        &length) ||
        length < 4) {
      return 0;
    }
    *language = static_cast<const WORD*>(value)[0];
    *code_page = static_cast<const WORD*>(value)[1];
    return length / 4;
  }

  // A string under the first translation, as every reader of version
  // blocks finds it; "<missing>" when it is not there.
  std::wstring Text(const wchar_t* name) {
    WORD language = 0;
    WORD code_page = 0;
    if (Translation(&language, &code_page) == 0) return L"<missing>";
    wchar_t folder[40];
    swprintf(folder, 40, L"\\StringFileInfo\\%04x%04x\\", language, code_page);
    void* value = nullptr;
    UINT length = 0;
    const std::wstring query = folder + std::wstring(name);
    if (!VerQueryValueW(block_.data(), query.c_str(), &value, &length) ||
        length == 0) {
      return L"<missing>";
    }
    return static_cast<const wchar_t*>(value);
  }

 private:
  std::vector<uint8_t> block_;
};

}  // namespace test_support

#endif  // SNAPFERRY_TESTS_VERSION_BLOCK_H_
