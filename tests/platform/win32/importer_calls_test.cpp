// What the importer asks of Windows: directory listing with wildcards, file
// attributes, a rename that never replaces, and a message-only window that
// receives posted messages. Windows's behaviour; runs on both builds.

#include <windows.h>
#include <dbt.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::wstring Wide(const fs::path& path) {
  const std::string text = path.u8string();
  return std::wstring(text.begin(), text.end());  // ASCII paths only
}

class ImporterCallsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        fs::temp_directory_path() /
        ("snapferry_importer_calls_" + std::to_string(GetCurrentProcessId()));
    fs::remove_all(folder_);
    fs::create_directories(folder_ / "sub");
    Put("IMG_1.HEIC", "12345");
    Put("IMG_1 (2).HEIC", "1234567");
    Put("IMG_10.JPG", "x");
    Put("[x].txt", "bracket");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  void Put(const std::string& name, const std::string& bytes) {
    std::ofstream(folder_ / name, std::ios::binary) << bytes;
  }
  std::string Read(const std::string& name) {
    std::ifstream file(folder_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }
  std::vector<std::string> Find(const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(Wide(folder_ / pattern).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
      last_error_ = GetLastError();
      return names;
    }
    do {
      const std::wstring name = data.cFileName;
      names.emplace_back(name.begin(), name.end());
    } while (FindNextFileW(find, &data));
    last_error_ = GetLastError();
    EXPECT_TRUE(FindClose(find));
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path folder_;
  DWORD last_error_ = 0;
};

TEST_F(ImporterCallsTest, FindFirstFileMatchesOnlyStarAndQuestionMark) {
  EXPECT_EQ(Find("IMG_1*.HEIC"),
            (std::vector<std::string>{"IMG_1 (2).HEIC", "IMG_1.HEIC"}));
  EXPECT_EQ(last_error_, static_cast<DWORD>(ERROR_NO_MORE_FILES));
  EXPECT_EQ(Find("IMG_1?.JPG"), (std::vector<std::string>{"IMG_10.JPG"}));
  EXPECT_EQ(Find("[x].txt"), (std::vector<std::string>{"[x].txt"}));
  EXPECT_EQ(Find("*.MOV"), std::vector<std::string>());
  EXPECT_EQ(last_error_, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(Find("missing/*"), std::vector<std::string>());
  EXPECT_EQ(last_error_, static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(ImporterCallsTest, GetFileAttributesExGivesSizeAndKind) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExW(Wide(folder_ / "IMG_1 (2).HEIC").c_str(),
                                   GetFileExInfoStandard, &data));
  EXPECT_EQ(data.nFileSizeLow, 7u);
  EXPECT_EQ(data.nFileSizeHigh, 0u);
  EXPECT_EQ(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  ASSERT_TRUE(GetFileAttributesExW(Wide(folder_ / "sub").c_str(),
                                   GetFileExInfoStandard, &data));
  EXPECT_NE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);

  EXPECT_FALSE(GetFileAttributesExW(Wide(folder_ / "none.HEIC").c_str(),
                                    GetFileExInfoStandard, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(GetFileAttributesExW(Wide(folder_ / "none" / "a").c_str(),
                                    GetFileExInfoStandard, &data));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(ImporterCallsTest, MoveFileExReplacesOnlyWhenAskedTo) {
  const std::wstring from = Wide(folder_ / "IMG_10.JPG");
  const std::wstring taken = Wide(folder_ / "IMG_1.HEIC");
  EXPECT_FALSE(MoveFileExW(from.c_str(), taken.c_str(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(Read("IMG_1.HEIC"), "12345");
  EXPECT_EQ(Read("IMG_10.JPG"), "x");

  const std::wstring free_name = Wide(folder_ / "sub" / "moved.JPG");
  EXPECT_TRUE(MoveFileExW(from.c_str(), free_name.c_str(), 0));
  EXPECT_EQ(Read("sub/moved.JPG"), "x");
  EXPECT_FALSE(fs::exists(folder_ / "IMG_10.JPG"));
  EXPECT_FALSE(MoveFileExW(from.c_str(), free_name.c_str(), 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  EXPECT_TRUE(
      MoveFileExW(free_name.c_str(), taken.c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(Read("IMG_1.HEIC"), "x");
}

// Folders as the importer makes them and removes those left empty.
TEST_F(ImporterCallsTest, FoldersAreMadeAndRemovedWithWindowsCodes) {
  const std::wstring made = Wide(folder_ / "made");
  EXPECT_TRUE(CreateDirectoryW(made.c_str(), nullptr));
  EXPECT_FALSE(CreateDirectoryW(made.c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(
      CreateDirectoryW(Wide(folder_ / "no" / "such").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(RemoveDirectoryW(Wide(folder_).c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
  EXPECT_FALSE(RemoveDirectoryW(Wide(folder_ / "IMG_10.JPG").c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
  EXPECT_TRUE(RemoveDirectoryW(made.c_str()));
  EXPECT_FALSE(RemoveDirectoryW(made.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

LRESULT CALLBACK CountingProc(HWND hwnd, UINT message, WPARAM wparam,
                              LPARAM lparam) {
  if (message == WM_APP + 7) {
    ++*reinterpret_cast<int*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return 0;
  }
  return DefWindowProcW(hwnd, message, wparam, lparam);
}

TEST(MessageOnlyWindowTest, ReceivesPostedMessagesAndIsNeverShown) {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = CountingProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"SnapferryMessageOnlyTest";
  ASSERT_NE(RegisterClassW(&window_class), 0);
  HWND window = CreateWindowExW(0, L"SnapferryMessageOnlyTest", L"", 0, 0, 0, 0,
                                0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  int received = 0;
  SetWindowLongPtrW(window, GWLP_USERDATA,
                    reinterpret_cast<LONG_PTR>(&received));
  EXPECT_FALSE(IsWindowVisible(window));
  ASSERT_TRUE(PostMessageW(window, WM_APP + 7, 0, 0));
  ASSERT_TRUE(PostMessageW(window, WM_APP + 7, 0, 0));
  PostQuitMessage(3);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  EXPECT_EQ(message.wParam, 3u);
  EXPECT_EQ(received, 2);
  EXPECT_TRUE(DestroyWindow(window));
  UnregisterClassW(L"SnapferryMessageOnlyTest", GetModuleHandleW(nullptr));
}

// The importer's window (and the app's) asks for WM_DEVICECHANGE of WPD
// device interfaces while someone listens for device events.
TEST(MessageOnlyWindowTest,
     RegistersForDeviceInterfaceNotificationsUntilUndone) {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = DefWindowProcW;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"SnapferryDeviceNotificationTest";
  ASSERT_NE(RegisterClassW(&window_class), 0);
  HWND window = CreateWindowExW(0, L"SnapferryDeviceNotificationTest", L"", 0,
                                0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(window, nullptr);
  DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
  filter.dbcc_size = sizeof(filter);
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = {0x6ac27878,
                           0xa6fa,
                           0x4155,
                           {0xba, 0x85, 0xf9, 0x8f, 0x49, 0x1d, 0x4f, 0x33}};
  HDEVNOTIFY registration =
      RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
  EXPECT_NE(registration, nullptr) << GetLastError();
  if (registration != nullptr) {
    EXPECT_TRUE(UnregisterDeviceNotification(registration));
  }
  EXPECT_TRUE(DestroyWindow(window));
  UnregisterClassW(L"SnapferryDeviceNotificationTest",
                   GetModuleHandleW(nullptr));
}

}  // namespace
