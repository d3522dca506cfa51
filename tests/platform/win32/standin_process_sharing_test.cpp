// Share mode 0 keeps other processes out too, as on Windows, for as long as
// the holder lives. The holder is a child, so that this process holds no
// handle of its own that would refuse these calls by itself.

#include <windows.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "gtest/gtest.h"

namespace {

constexpr wchar_t kPath[] = L"standin_process_sharing.lock";

HANDLE Open(DWORD access, DWORD share, DWORD disposition) {
  return CreateFileW(kPath, access, share, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(StandinProcessSharing, NoSharingRefusesOtherProcessesUntilHolderDies) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = fork();
  if (holder == 0) {
    HANDLE file = Open(GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS);
    DWORD written = 0;
    if (WriteFile(file, "held", 4, &written, nullptr)) {
      if (write(ready[1], "1", 1) == 1) pause();
    }
    _exit(0);
  }
  char held = 0;
  EXPECT_EQ(read(ready[0], &held, 1), 1);
  close(ready[0]);
  close(ready[1]);
  // Every kind of open, and the delete last: once allowed, it removes it.
  auto attempt = [](int i) {
    const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    if (i == 3) return DeleteFileW(kPath) != FALSE;
    HANDLE file = i == 0   ? Open(GENERIC_READ, all, OPEN_EXISTING)
                  : i == 1 ? Open(GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS)
                           : Open(GENERIC_WRITE, 0, CREATE_ALWAYS);
    return file != INVALID_HANDLE_VALUE && CloseHandle(file);
  };
  for (int i = 0; i < 4; ++i) {
    EXPECT_FALSE(attempt(i)) << i;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << i;
  }
  std::ifstream in("standin_process_sharing.lock");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "held");

  kill(holder, SIGKILL);  // it never closes its handle: the system lets go
  waitpid(holder, nullptr, 0);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(attempt(i)) << i;
  EXPECT_FALSE(std::filesystem::exists("standin_process_sharing.lock"));
}

}  // namespace
