// Directory listing, file attributes, renames and folders: what the importer
// asks of the file system. Names are matched and compared as the file system
// does (case-sensitively here, unlike NTFS). As on Windows without the
// long-path policy, every call naming a file refuses a full path of MAX_PATH
// units or more with ERROR_PATH_NOT_FOUND unless it is in long-path form
// ("\\?\...").
#ifndef SNAPFERRY_WIN32_FILEAPI_H_
#define SNAPFERRY_WIN32_FILEAPI_H_

#include <windef.h>

#define MAX_PATH 260
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)

#define MOVEFILE_REPLACE_EXISTING 0x00000001
#define MOVEFILE_COPY_ALLOWED 0x00000002
#define MOVEFILE_WRITE_THROUGH 0x00000008

typedef enum _GET_FILEEX_INFO_LEVELS {
  GetFileExInfoStandard,
  GetFileExMaxInfoLevel
} GET_FILEEX_INFO_LEVELS;

typedef struct _WIN32_FILE_ATTRIBUTE_DATA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
} WIN32_FILE_ATTRIBUTE_DATA, *LPWIN32_FILE_ATTRIBUTE_DATA;

typedef struct _WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  WCHAR cFileName[MAX_PATH];
  WCHAR cAlternateFileName[14];
} WIN32_FIND_DATAW, *LPWIN32_FIND_DATAW;

// The pattern's last component may hold '*' and '?'; "." and ".." are
// listed as on Windows. A name longer than MAX_PATH - 1 units is skipped.
EXTERN_C HANDLE WINAPI FindFirstFileW(LPCWSTR lpFileName,
                                      LPWIN32_FIND_DATAW lpFindFileData);
EXTERN_C BOOL WINAPI FindNextFileW(HANDLE hFindFile,
                                   LPWIN32_FIND_DATAW lpFindFileData);
EXTERN_C BOOL WINAPI FindClose(HANDLE hFindFile);
EXTERN_C BOOL WINAPI GetFileAttributesExW(LPCWSTR lpFileName,
                                          GET_FILEEX_INFO_LEVELS fInfoLevelId,
                                          LPVOID lpFileInformation);
// Without MOVEFILE_REPLACE_EXISTING an existing target is never replaced
// (ERROR_ALREADY_EXISTS), even by another process renaming at the same time.
EXTERN_C BOOL WINAPI MoveFileExW(LPCWSTR lpExistingFileName,
                                 LPCWSTR lpNewFileName, DWORD dwFlags);
// No security attributes are applied.
EXTERN_C BOOL WINAPI CreateDirectoryW(LPCWSTR lpPathName,
                                      LPSECURITY_ATTRIBUTES lpAttributes);
EXTERN_C BOOL WINAPI RemoveDirectoryW(LPCWSTR lpPathName);
// The folder for temporary files, full, ending in '\': from TMP, TEMP,
// USERPROFILE or (the stand-in's own) TMPDIR, else "\tmp\". The length
// written (without the NUL), or the size needed (with it) when the buffer is
// too small, as GetFullPathNameW.
EXTERN_C DWORD WINAPI GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer);

#endif  // SNAPFERRY_WIN32_FILEAPI_H_
