// Windows, messages, focus, monitors and DPI: the subset the system and the
// in-process engine use, with Windows's message order.
#ifndef SNAPFERRY_WIN32_WINUSER_H_
#define SNAPFERRY_WIN32_WINUSER_H_

#include <windef.h>

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

#define MAKEINTRESOURCEW(i) ((LPWSTR)((ULONG_PTR)((WORD)(i))))
#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define MAKEINTRESOURCE MAKEINTRESOURCEW
#define IS_INTRESOURCE(r) ((((ULONG_PTR)(r)) >> 16) == 0)
#define MAKEINTATOM(i) ((LPWSTR)((ULONG_PTR)((WORD)(i))))

#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_MOVE 0x0003
#define WM_SIZE 0x0005
#define WM_ACTIVATE 0x0006
#define WM_SETFOCUS 0x0007
#define WM_KILLFOCUS 0x0008
#define WM_SETTEXT 0x000C
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_ERASEBKGND 0x0014
#define WM_SHOWWINDOW 0x0018
#define WM_ACTIVATEAPP 0x001C
#define WM_FONTCHANGE 0x001D
#define WM_GETMINMAXINFO 0x0024
#define WM_WINDOWPOSCHANGING 0x0046
#define WM_WINDOWPOSCHANGED 0x0047
#define WM_NCCREATE 0x0081
#define WM_NCDESTROY 0x0082
#define WM_NCCALCSIZE 0x0083
#define WM_NCACTIVATE 0x0086
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_CHAR 0x0102
#define WM_TIMER 0x0113
#define WM_PARENTNOTIFY 0x0210
#define WM_DEVICECHANGE 0x0219
#define WM_DPICHANGED 0x02E0
#define WM_DWMCOLORIZATIONCOLORCHANGED 0x0320
#define WM_USER 0x0400
#define WM_APP 0x8000

#define WA_INACTIVE 0
#define WA_ACTIVE 1
#define WA_CLICKACTIVE 2
#define SIZE_RESTORED 0
#define SIZE_MINIMIZED 1
#define SIZE_MAXIMIZED 2

#define WS_OVERLAPPED 0x00000000u
#define WS_POPUP 0x80000000u
#define WS_CHILD 0x40000000u
#define WS_MINIMIZE 0x20000000u
#define WS_VISIBLE 0x10000000u
#define WS_DISABLED 0x08000000u
#define WS_CLIPSIBLINGS 0x04000000u
#define WS_CLIPCHILDREN 0x02000000u
#define WS_MAXIMIZE 0x01000000u
#define WS_CAPTION 0x00C00000u
#define WS_BORDER 0x00800000u
#define WS_SYSMENU 0x00080000u
#define WS_THICKFRAME 0x00040000u
#define WS_MINIMIZEBOX 0x00020000u
#define WS_MAXIMIZEBOX 0x00010000u
#define WS_OVERLAPPEDWINDOW                                                   \
  (WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | \
   WS_MAXIMIZEBOX)
#define WS_EX_NOPARENTNOTIFY 0x00000004u

#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define CW_USEDEFAULT ((int)0x80000000)

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define SW_SHOWMINIMIZED 2
#define SW_SHOWMAXIMIZED 3
#define SW_MAXIMIZE 3
#define SW_SHOWNOACTIVATE 4
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_SHOWMINNOACTIVE 7
#define SW_SHOWNA 8
#define SW_RESTORE 9
#define SW_SHOWDEFAULT 10

#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004
#define SWP_NOREDRAW 0x0008
#define SWP_NOACTIVATE 0x0010
#define SWP_FRAMECHANGED 0x0020
#define SWP_SHOWWINDOW 0x0040
#define SWP_HIDEWINDOW 0x0080
#define SWP_NOCOPYBITS 0x0100
#define SWP_NOOWNERZORDER 0x0200
#define SWP_NOSENDCHANGING 0x0400
#define HWND_TOP ((HWND)0)
#define HWND_BOTTOM ((HWND)1)
// As the parent of CreateWindowExW: a message-only window, never shown.
#define HWND_MESSAGE ((HWND)(LONG_PTR)-3)

#define GWLP_WNDPROC (-4)
#define GWLP_HINSTANCE (-6)
#define GWLP_ID (-12)
#define GWL_STYLE (-16)
#define GWL_EXSTYLE (-20)
#define GWLP_USERDATA (-21)

#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001

#define MONITOR_DEFAULTTONULL 0x00000000
#define MONITOR_DEFAULTTOPRIMARY 0x00000001
#define MONITOR_DEFAULTTONEAREST 0x00000002

#define SPI_GETWORKAREA 0x0030

#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define SM_CXMAXTRACK 59
#define SM_CYMAXTRACK 60

#define USER_TIMER_MINIMUM 0x0000000A

#define IDC_ARROW MAKEINTRESOURCEW(32512)
#define IDI_APPLICATION MAKEINTRESOURCEW(32512)

typedef struct tagWNDCLASSW {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCWSTR lpszMenuName;
  LPCWSTR lpszClassName;
} WNDCLASSW, *PWNDCLASSW, *LPWNDCLASSW;

typedef struct tagCREATESTRUCTW {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCWSTR lpszName;
  LPCWSTR lpszClass;
  DWORD dwExStyle;
} CREATESTRUCTW, *LPCREATESTRUCTW;

typedef struct tagMSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
} MSG, *PMSG, *LPMSG;

typedef struct tagMINMAXINFO {
  POINT ptReserved;
  POINT ptMaxSize;
  POINT ptMaxPosition;
  POINT ptMinTrackSize;
  POINT ptMaxTrackSize;
} MINMAXINFO, *PMINMAXINFO, *LPMINMAXINFO;

typedef struct tagWINDOWPOS {
  HWND hwnd;
  HWND hwndInsertAfter;
  int x;
  int y;
  int cx;
  int cy;
  UINT flags;
} WINDOWPOS, *LPWINDOWPOS, *PWINDOWPOS;

typedef struct tagPAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
} PAINTSTRUCT, *PPAINTSTRUCT, *LPPAINTSTRUCT;

// ---- classes and windows --------------------------------------------------
EXTERN_C ATOM WINAPI RegisterClassW(const WNDCLASSW* lpWndClass);
EXTERN_C BOOL WINAPI UnregisterClassW(LPCWSTR lpClassName, HINSTANCE hInstance);
EXTERN_C HWND WINAPI CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName,
                                     LPCWSTR lpWindowName, DWORD dwStyle, int X,
                                     int Y, int nWidth, int nHeight,
                                     HWND hWndParent, HMENU hMenu,
                                     HINSTANCE hInstance, LPVOID lpParam);
EXTERN_C BOOL WINAPI DestroyWindow(HWND hWnd);
EXTERN_C BOOL WINAPI IsWindow(HWND hWnd);
EXTERN_C BOOL WINAPI IsWindowVisible(HWND hWnd);
EXTERN_C LRESULT WINAPI DefWindowProcW(HWND hWnd, UINT Msg, WPARAM wParam,
                                       LPARAM lParam);
EXTERN_C LONG_PTR WINAPI GetWindowLongPtrW(HWND hWnd, int nIndex);
EXTERN_C LONG_PTR WINAPI SetWindowLongPtrW(HWND hWnd, int nIndex,
                                           LONG_PTR dwNewLong);

// ---- messages ---------------------------------------------------------------
// PostMessageW may be called from any thread; the message lands in the queue
// of the thread that created the window.
EXTERN_C BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam,
                                  LPARAM lParam);
EXTERN_C LRESULT WINAPI SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam,
                                     LPARAM lParam);
EXTERN_C BOOL WINAPI GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin,
                                 UINT wMsgFilterMax);
EXTERN_C BOOL WINAPI PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin,
                                  UINT wMsgFilterMax, UINT wRemoveMsg);
EXTERN_C BOOL WINAPI TranslateMessage(const MSG* lpMsg);
EXTERN_C LRESULT WINAPI DispatchMessageW(const MSG* lpMsg);
EXTERN_C void WINAPI PostQuitMessage(int nExitCode);
EXTERN_C UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse,
                                  TIMERPROC lpTimerFunc);
EXTERN_C BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent);

// ---- device notifications ---------------------------------------------
// WM_DEVICECHANGE for the device interfaces a filter names (dbt.h), sent to
// a window until the registration is undone. A registration outlives its
// window: undo it before the window goes.
typedef PVOID HDEVNOTIFY;
#define DEVICE_NOTIFY_WINDOW_HANDLE 0x00000000
#define DEVICE_NOTIFY_SERVICE_HANDLE 0x00000001
#define DEVICE_NOTIFY_ALL_INTERFACE_CLASSES 0x00000004
EXTERN_C HDEVNOTIFY WINAPI RegisterDeviceNotificationW(
    HANDLE hRecipient, LPVOID NotificationFilter, DWORD Flags);
EXTERN_C BOOL WINAPI UnregisterDeviceNotification(HDEVNOTIFY Handle);

// ---- painting ---------------------------------------------------------------
EXTERN_C BOOL WINAPI InvalidateRect(HWND hWnd, const RECT* lpRect, BOOL bErase);
EXTERN_C BOOL WINAPI ValidateRect(HWND hWnd, const RECT* lpRect);
EXTERN_C BOOL WINAPI UpdateWindow(HWND hWnd);
EXTERN_C HDC WINAPI BeginPaint(HWND hWnd, LPPAINTSTRUCT lpPaint);
EXTERN_C BOOL WINAPI EndPaint(HWND hWnd, const PAINTSTRUCT* lpPaint);

// ---- placement, visibility, focus --------------------------------------
EXTERN_C BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow);
EXTERN_C HWND WINAPI SetParent(HWND hWndChild, HWND hWndNewParent);
EXTERN_C HWND WINAPI GetParent(HWND hWnd);
EXTERN_C BOOL WINAPI MoveWindow(HWND hWnd, int X, int Y, int nWidth,
                                int nHeight, BOOL bRepaint);
EXTERN_C BOOL WINAPI SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y,
                                  int cx, int cy, UINT uFlags);
EXTERN_C HWND WINAPI SetFocus(HWND hWnd);
EXTERN_C HWND WINAPI GetFocus(void);
EXTERN_C HWND WINAPI GetActiveWindow(void);
EXTERN_C BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect);
EXTERN_C BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect);

// ---- monitors and DPI -----------------------------------------------------
EXTERN_C HMONITOR WINAPI MonitorFromPoint(POINT pt, DWORD dwFlags);
EXTERN_C UINT WINAPI GetDpiForWindow(HWND hwnd);
EXTERN_C UINT WINAPI GetDpiForSystem(void);
EXTERN_C int WINAPI GetSystemMetrics(int nIndex);
EXTERN_C BOOL WINAPI SystemParametersInfoW(UINT uiAction, UINT uiParam,
                                           PVOID pvParam, UINT fWinIni);

// ---- resources --------------------------------------------------------------
EXTERN_C HICON WINAPI LoadIconW(HINSTANCE hInstance, LPCWSTR lpIconName);
EXTERN_C HCURSOR WINAPI LoadCursorW(HINSTANCE hInstance, LPCWSTR lpCursorName);

#endif  // SNAPFERRY_WIN32_WINUSER_H_
