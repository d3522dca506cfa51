// Text conversion between UTF-8 and UTF-16. Only CP_UTF8 is provided; other
// code pages fail with ERROR_INVALID_PARAMETER. Each WCHAR element holds one
// UTF-16 code unit, so a character outside the BMP takes two elements; an
// element above 0xFFFF is not a UTF-16 unit and converts as an invalid one.
#ifndef SNAPFERRY_WIN32_WINNLS_H_
#define SNAPFERRY_WIN32_WINNLS_H_

#include <windef.h>

#define CP_ACP 0
#define CP_UTF8 65001
#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_NO_BEST_FIT_CHARS 0x00000400
#define WC_ERR_INVALID_CHARS 0x00000080

// With flags 0 every ill-formed sequence becomes one U+FFFD the way Windows
// delimits it; with MB_ERR_INVALID_CHARS the call fails with
// ERROR_NO_UNICODE_TRANSLATION instead. A negative length means "up to and
// including the NUL"; an output size of 0 measures.
EXTERN_C int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags,
                                        LPCCH lpMultiByteStr, int cbMultiByte,
                                        LPWSTR lpWideCharStr, int cchWideChar);

// An unpaired surrogate becomes U+FFFD with flags 0 and fails with
// ERROR_NO_UNICODE_TRANSLATION under WC_ERR_INVALID_CHARS. For CP_UTF8 the
// default-character arguments must be NULL.
EXTERN_C int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags,
                                        LPCWCH lpWideCharStr, int cchWideChar,
                                        LPSTR lpMultiByteStr, int cbMultiByte,
                                        LPCCH lpDefaultChar,
                                        LPBOOL lpUsedDefaultChar);

#endif  // SNAPFERRY_WIN32_WINNLS_H_
