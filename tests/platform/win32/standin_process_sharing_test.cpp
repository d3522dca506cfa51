// Share mode 0 keeps other processes out as well, as on Windows, and only
// as long as the holder lives. The other process is a fork of this one.

#include <windows.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"

namespace {

namespace fs = std::filesystem;

constexpr wchar_t kPath[] = L"standin_process_sharing_test\\held.lock";

HANDLE Open(DWORD access, DWORD share, DWORD disposition) {
  return CreateFileW(kPath, access, share, nullptr, disposition,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}
HANDLE OpenUnshared() {
  return Open(GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS);
}

class StandinProcessSharing : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories("standin_process_sharing_test");
  }
  void TearDown() override { fs::remove_all("standin_process_sharing_test"); }
};

// The holder is a child, so this process holds no handle of its own that
// would refuse these calls by itself.
TEST_F(StandinProcessSharing,
       NoSharingRefusesOtherProcessesUntilTheHolderDies) {
  const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  // The delete comes last: once allowed, it removes the file.
  const std::vector<std::pair<const char*, std::function<HANDLE()>>> attempts =
      {
          {"read, sharing all",
           [&] { return Open(GENERIC_READ, all, OPEN_EXISTING); }},
          {"unshared", [] { return OpenUnshared(); }},
          {"overwrite", [] { return Open(GENERIC_WRITE, 0, CREATE_ALWAYS); }},
          {"delete",
           [] { return DeleteFileW(kPath) ? nullptr : INVALID_HANDLE_VALUE; }},
      };
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = fork();
  if (holder == 0) {
    DWORD written = 0;
    const char held =
        WriteFile(OpenUnshared(), "held", 4, &written, nullptr) ? '1' : '0';
    if (write(ready[1], &held, 1) == 1) pause();
    _exit(0);
  }
  char held = 0;
  EXPECT_EQ(read(ready[0], &held, 1), 1);
  close(ready[0]);
  close(ready[1]);
  ASSERT_EQ(held, '1');
  for (const auto& [what, call] : attempts) {
    EXPECT_EQ(call(), INVALID_HANDLE_VALUE) << what;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION))
        << what;
  }
  std::ifstream in("standin_process_sharing_test/held.lock");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "held");

  // Killed, as a process that never closes its handles: the system lets go.
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  for (const auto& [what, call] : attempts) {
    HANDLE file = call();
    EXPECT_NE(file, INVALID_HANDLE_VALUE) << what;
    if (file != nullptr && file != INVALID_HANDLE_VALUE) CloseHandle(file);
  }
  EXPECT_FALSE(fs::exists("standin_process_sharing_test/held.lock"));
}

}  // namespace
