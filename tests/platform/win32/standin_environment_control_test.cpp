#include <windows.h>
#include <dbt.h>
#include <dwmapi.h>
#include <shellapi.h>

#include <cstddef>
#include <string>
#include <thread>

#include "gtest/gtest.h"
#include "tests/platform/win32/window_test_support.h"
#include "win32_standin/control.h"

namespace {

class StandinEnvironment : public win32_test::WindowTest {
 protected:
  void TearDown() override {
    WindowTest::TearDown();
    win32_standin::Reset();
  }
};

constexpr wchar_t kPersonalize[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";

TEST_F(StandinEnvironment,
       RegistryDwordIsFoundWithoutRegardToCaseAndTypeChecked) {
  win32_standin::SetRegistryDword(HKEY_CURRENT_USER, kPersonalize,
                                  L"AppsUseLightTheme", 0);
  DWORD value = 7;
  DWORD size = sizeof value;
  DWORD type = 0;
  EXPECT_EQ(
      RegGetValueW(
          HKEY_CURRENT_USER,
          L"software\\microsoft\\windows\\currentversion\\themes\\personalize",
          L"appsuselighttheme", RRF_RT_REG_DWORD, &type, &value, &size),
      ERROR_SUCCESS);
  EXPECT_EQ(value, 0u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(size, 4u);
  // Another root does not see it.
  EXPECT_EQ(RegGetValueW(HKEY_LOCAL_MACHINE, kPersonalize, L"AppsUseLightTheme",
                         RRF_RT_REG_DWORD, nullptr, &value, &size),
            ERROR_FILE_NOT_FOUND);

  win32_standin::SetRegistryString(HKEY_CURRENT_USER, kPersonalize,
                                   L"AppsUseLightTheme", L"1");
  EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, kPersonalize, L"AppsUseLightTheme",
                         RRF_RT_REG_DWORD, nullptr, &value, &size),
            ERROR_UNSUPPORTED_TYPE);
  wchar_t text[1];
  DWORD text_size = sizeof text;
  EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, kPersonalize, L"AppsUseLightTheme",
                         RRF_RT_REG_SZ, nullptr, text, &text_size),
            ERROR_MORE_DATA);
  win32_standin::Reset();
  EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, kPersonalize, L"AppsUseLightTheme",
                         RRF_RT_REG_DWORD, nullptr, &value, &size),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(StandinEnvironment, ConsoleAndDebuggerAreWhatTheTestSays) {
  EXPECT_FALSE(AttachConsole(ATTACH_PARENT_PROCESS));
  EXPECT_FALSE(IsDebuggerPresent());
  EXPECT_TRUE(AllocConsole());
  EXPECT_TRUE(win32_standin::ConsoleAllocated());
  EXPECT_FALSE(AllocConsole());  // one console per process
  win32_standin::Reset();
  win32_standin::SetParentConsole(true);
  win32_standin::SetDebuggerPresent(true);
  EXPECT_TRUE(AttachConsole(ATTACH_PARENT_PROCESS));
  EXPECT_TRUE(win32_standin::ConsoleAttached());
  EXPECT_TRUE(IsDebuggerPresent());
  win32_standin::Reset();
  win32_standin::SetConsoleAllocationFails(true);
  EXPECT_FALSE(AllocConsole());
  EXPECT_FALSE(win32_standin::ConsoleAllocated());
}

TEST_F(StandinEnvironment, CommandLineIsTheOneSetAndSplitsTheWindowsWay) {
  win32_standin::SetCommandLine(L"snapferry.exe --script \"a b.txt\"");
  int count = 0;
  LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  ASSERT_EQ(count, 3);
  EXPECT_STREQ(arguments[2], L"a b.txt");
  LocalFree(arguments);
}

TEST_F(StandinEnvironment, MonitorsWorkAreaAndDpiAreWhatTheTestSays) {
  win32_standin::SetMonitors(
      {{{0, 0, 1920, 1080}, {0, 0, 1920, 1040}, 96},
       {{1920, 0, 4800, 1800}, {1920, 0, 4800, 1760}, 144}});
  win32_standin::SetSystemDpi(120);
  EXPECT_EQ(GetDpiForSystem(), 120u);
  HWND left =
      CreateWindowExW(0, win32_test::kClassName, L"", WS_OVERLAPPEDWINDOW, 100,
                      100, 400, 300, nullptr, nullptr, nullptr, nullptr);
  HWND right =
      CreateWindowExW(0, win32_test::kClassName, L"", WS_OVERLAPPEDWINDOW, 2000,
                      100, 400, 300, nullptr, nullptr, nullptr, nullptr);
  created_ = {left, right};
  EXPECT_EQ(GetDpiForWindow(left), 96u);
  EXPECT_EQ(GetDpiForWindow(right), 144u);
  EXPECT_EQ(GetDpiForWindow(nullptr), 0u);
  EXPECT_NE(MonitorFromPoint({2000, 10}, MONITOR_DEFAULTTONULL),
            MonitorFromPoint({10, 10}, MONITOR_DEFAULTTONULL));

  win32_standin::SetWorkArea({0, 0, 2880, 1680});
  RECT work = {};
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
  EXPECT_EQ(work.right, 2880);
  win32_standin::SetWorkAreaQueryFails(true);
  RECT untouched = {0, 0, 1280, 720};
  EXPECT_FALSE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &untouched, 0));
  EXPECT_EQ(untouched.right, 1280);
}

TEST_F(StandinEnvironment, ObservesAttributesScalingVisibilityAndParent) {
  win32_test::Handler() = [](HWND hwnd, UINT message, WPARAM, LPARAM) {
    if (message == WM_NCCREATE) {
      HMODULE user32 = LoadLibraryA("User32.dll");
      using Enable = BOOL(WINAPI*)(HWND);
      auto enable = reinterpret_cast<Enable>(reinterpret_cast<void*>(
          GetProcAddress(user32, "EnableNonClientDpiScaling")));
      if (enable != nullptr) enable(hwnd);
      FreeLibrary(user32);
    }
    return false;
  };
  HWND hwnd = CreateTopLevel();
  const BOOL dark = TRUE;
  EXPECT_EQ(DwmSetWindowAttribute(hwnd, DWMWA_USE_IMMERSIVE_DARK_MODE, &dark,
                                  sizeof dark),
            S_OK);
  std::vector<BYTE> value;
  ASSERT_TRUE(
      win32_standin::DwmAttribute(hwnd, DWMWA_USE_IMMERSIVE_DARK_MODE, &value));
  ASSERT_EQ(value.size(), 4u);
  EXPECT_EQ(value[0], 1);
  EXPECT_FALSE(win32_standin::DwmAttribute(hwnd, 2, nullptr));

  auto snapshot = win32_standin::DescribeWindow(hwnd);
  EXPECT_TRUE(snapshot.exists);
  EXPECT_FALSE(snapshot.visible);
  EXPECT_TRUE(snapshot.non_client_dpi_scaling);
  EXPECT_EQ(snapshot.title, L"Test");
  EXPECT_EQ(snapshot.class_name, win32_test::kClassName);
  EXPECT_EQ(snapshot.window_rect.left, 10);
  // Windows 10's frame at 96 DPI: 8 pixels a side and a 23-pixel caption.
  EXPECT_EQ(snapshot.client_rect.right, 400 - 16);
  EXPECT_EQ(snapshot.client_rect.bottom, 300 - 39);

  HWND child = CreateChild(hwnd);
  ShowWindow(hwnd, SW_SHOWNORMAL);
  EXPECT_TRUE(win32_standin::DescribeWindow(child).visible);
  EXPECT_EQ(win32_standin::DescribeWindow(child).parent, hwnd);
  DestroyWindow(hwnd);
  EXPECT_FALSE(win32_standin::DescribeWindow(hwnd).exists);
}

TEST_F(StandinEnvironment,
       MissingNonClientScalingAndIconsAreReportedAsWindowsWould) {
  win32_standin::SetNonClientDpiScalingAvailable(false);
  HMODULE user32 = LoadLibraryA("User32.dll");
  EXPECT_EQ(GetProcAddress(user32, "EnableNonClientDpiScaling"), nullptr);
  FreeLibrary(user32);
  HINSTANCE self = GetModuleHandleW(nullptr);
  EXPECT_EQ(LoadIconW(self, MAKEINTRESOURCEW(101)), nullptr);
  win32_standin::AddIconResource(101);
  EXPECT_NE(LoadIconW(self, MAKEINTRESOURCEW(101)), nullptr);
}

TEST_F(StandinEnvironment, InjectedCreateWindowFailureSendsNothing) {
  win32_standin::FailCreateWindowExW(ERROR_NOT_ENOUGH_MEMORY, 1);
  EXPECT_EQ(CreateTopLevel(), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_TRUE(win32_test::Log().empty());
  EXPECT_EQ(win32_standin::LiveWindowCount(), 0);
  EXPECT_NE(CreateTopLevel(), nullptr);
  EXPECT_EQ(win32_standin::LiveWindowCount(), 1);
}

TEST_F(StandinEnvironment, RecordsPostedMessagesFromEveryThreadAndTheQuitCode) {
  HWND hwnd = CreateTopLevel();
  std::thread([hwnd] { PostMessageW(hwnd, WM_APP + 0x42, 0, 0); }).join();
  PostMessageW(hwnd, WM_APP + 1, 2, 3);
  const auto posted = win32_standin::PostedMessages();
  ASSERT_EQ(posted.size(), 2u);
  EXPECT_EQ(posted[0].message, static_cast<UINT>(WM_APP + 0x42));
  EXPECT_NE(posted[0].thread, GetCurrentThreadId());
  EXPECT_EQ(posted[1].lparam, 3);
  int code = -1;
  EXPECT_FALSE(win32_standin::QuitPosted(&code));
  PostQuitMessage(4);
  EXPECT_TRUE(win32_standin::QuitPosted(&code));
  EXPECT_EQ(code, 4);
}

}  // namespace

namespace {

// GUID_DEVINTERFACE_WPD and another interface class (USB devices).
constexpr GUID kWpdClass = {0x6ac27878,
                            0xa6fa,
                            0x4155,
                            {0xba, 0x85, 0xf9, 0x8f, 0x49, 0x1d, 0x4f, 0x33}};
constexpr GUID kUsbClass = {0xa5dcbf10,
                            0x6530,
                            0x11d2,
                            {0x90, 0x1f, 0x00, 0xc0, 0x4f, 0xb9, 0x51, 0xed}};

HDEVNOTIFY RegisterFor(HWND window, const GUID& interface_class) {
  DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
  filter.dbcc_size = sizeof(filter);
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = interface_class;
  return RegisterDeviceNotificationW(window, &filter,
                                     DEVICE_NOTIFY_WINDOW_HANDLE);
}

// The system's broadcast reaches the windows registered for the class, as a
// message sent from elsewhere: at the window thread's next look at its
// queue, with the path after the structure, until the registration is
// undone.
TEST_F(StandinEnvironment, DeviceInterfaceChangesReachTheRegisteredWindows) {
  HWND wpd = CreateTopLevel();
  HWND usb = CreateTopLevel();
  HDEVNOTIFY wpd_registration = RegisterFor(wpd, kWpdClass);
  HDEVNOTIFY usb_registration = RegisterFor(usb, kUsbClass);
  ASSERT_NE(wpd_registration, nullptr);
  ASSERT_NE(usb_registration, nullptr);
  EXPECT_EQ(win32_standin::DeviceNotificationRegistrations(), 2);

  std::wstring told;
  win32_test::Handler() = [&](HWND hwnd, UINT message, WPARAM wparam,
                              LPARAM lparam) {
    if (message != WM_DEVICECHANGE) return false;
    const auto* change =
        reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lparam);
    EXPECT_EQ(hwnd, wpd);
    EXPECT_EQ(wparam, static_cast<WPARAM>(DBT_DEVICEARRIVAL));
    EXPECT_EQ(change->dbcc_devicetype, DWORD{DBT_DEVTYP_DEVICEINTERFACE});
    EXPECT_TRUE(IsEqualGUID(change->dbcc_classguid, kWpdClass));
    told = change->dbcc_name;
    EXPECT_EQ(change->dbcc_size,
              offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) +
                  (told.size() + 1) * sizeof(WCHAR));
    return true;
  };
  EXPECT_EQ(win32_standin::BroadcastDeviceInterfaceChange(
                DBT_DEVICEARRIVAL, kWpdClass, L"\\\\?\\USB#PHONE"),
            1);
  EXPECT_TRUE(told.empty());  // not run inline
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    DispatchMessageW(&message);
  }
  EXPECT_EQ(told, L"\\\\?\\USB#PHONE");

  EXPECT_TRUE(UnregisterDeviceNotification(wpd_registration));
  EXPECT_FALSE(UnregisterDeviceNotification(wpd_registration));
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_HANDLE});
  EXPECT_EQ(win32_standin::BroadcastDeviceInterfaceChange(DBT_DEVICEARRIVAL,
                                                          kWpdClass, L"x"),
            0);
  // A registration is the caller's to undo, whether its window lives.
  DestroyWindow(usb);
  EXPECT_EQ(win32_standin::DeviceNotificationRegistrations(), 1);
  EXPECT_TRUE(UnregisterDeviceNotification(usb_registration));
  win32_test::Handler() = nullptr;

  // Refused: a recipient that is no window, a filter of another kind.
  EXPECT_EQ(RegisterFor(nullptr, kWpdClass), nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_WINDOW_HANDLE});
  DEV_BROADCAST_HDR volume = {sizeof(volume), DBT_DEVTYP_VOLUME, 0};
  EXPECT_EQ(
      RegisterDeviceNotificationW(wpd, &volume, DEVICE_NOTIFY_WINDOW_HANDLE),
      nullptr);
  EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_DATA});
  EXPECT_EQ(win32_standin::DeviceNotificationRegistrations(), 0);
}

}  // namespace
