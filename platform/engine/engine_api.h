// The engine library's plain-function interface, as this program calls it.
//
// Declared here from how the program uses it, not copied from anywhere: the
// function names are the library's exports; the handle types are opaque; the
// two published records carry the layout the library expects (checked below
// for 64-bit targets). The same declaration serves the real library on
// Windows and the in-process engine everywhere else.

#ifndef PLATFORM_ENGINE_ENGINE_API_H_
#define PLATFORM_ENGINE_ENGINE_API_H_

#include <windows.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Opaque handles. The engine library owns what they point to.
typedef struct FlutterDesktopEngine* FlutterDesktopEngineRef;
typedef struct FlutterDesktopViewController* FlutterDesktopViewControllerRef;
typedef struct FlutterDesktopView* FlutterDesktopViewRef;
typedef struct FlutterDesktopMessenger* FlutterDesktopMessengerRef;
typedef struct FlutterDesktopPluginRegistrar* FlutterDesktopPluginRegistrarRef;
typedef struct FlutterDesktopMessageResponseHandle
    FlutterDesktopMessageResponseHandle;

// Start-up settings handed to FlutterDesktopEngineCreate. The caller builds it
// on the stack for that one call; the engine copies whatever it keeps.
typedef struct {
  const wchar_t* assets_path;
  const wchar_t* icu_data_path;
  const wchar_t* aot_library_path;
  // Never null: an empty string when there is no entry point name.
  const char* entry_point;
  int32_t entry_point_argc;
  // Null when entry_point_argc is 0.
  const char** entry_point_argv;
  int32_t engine_option_1;
  int32_t engine_option_2;
  int32_t engine_option_3;
  // Always zero.
  int32_t reserved;
} FlutterDesktopEngineProperties;

// One incoming message, as passed to a FlutterDesktopMessageCallback.
typedef struct {
  size_t struct_size;
  const char* channel;
  const uint8_t* message;
  size_t message_size;
  // Answer with FlutterDesktopMessengerSendResponse, at most once.
  const FlutterDesktopMessageResponseHandle* response_handle;
} FlutterDesktopMessage;

typedef void (*FlutterDesktopMessageCallback)(
    FlutterDesktopMessengerRef messenger, const FlutterDesktopMessage* message,
    void* user_data);
typedef void (*FlutterDesktopBinaryReply)(const uint8_t* data, size_t data_size,
                                          void* user_data);
typedef void (*FlutterDesktopOnNextFrameCallback)(void* user_data);

// Engine.
FlutterDesktopEngineRef FlutterDesktopEngineCreate(
    const FlutterDesktopEngineProperties* properties);
bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine);
// Runs the engine without a view (`entry_point` null: the default one).
// False when it cannot run, or runs already.
bool FlutterDesktopEngineRun(FlutterDesktopEngineRef engine,
                             const char* entry_point);
FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(
    FlutterDesktopEngineRef engine);
FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(
    FlutterDesktopEngineRef engine, const char* plugin_name);
void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine);
void FlutterDesktopEngineSetNextFrameCallback(
    FlutterDesktopEngineRef engine, FlutterDesktopOnNextFrameCallback callback,
    void* user_data);

// View controller and view. The controller takes ownership of the engine it
// is given and runs it.
FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(
    int width, int height, FlutterDesktopEngineRef engine);
void FlutterDesktopViewControllerDestroy(
    FlutterDesktopViewControllerRef controller);
FlutterDesktopViewRef FlutterDesktopViewControllerGetView(
    FlutterDesktopViewControllerRef controller);
void FlutterDesktopViewControllerForceRedraw(
    FlutterDesktopViewControllerRef controller);
bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef controller, HWND hwnd, UINT message,
    WPARAM wparam, LPARAM lparam, LRESULT* result);
HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view);

// Messenger.
bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger,
                                 const char* channel, const uint8_t* message,
                                 size_t message_size);
bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger,
                                          const char* channel,
                                          const uint8_t* message,
                                          size_t message_size,
                                          FlutterDesktopBinaryReply reply,
                                          void* user_data);
void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessengerRef messenger,
    const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
    size_t data_length);
void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger,
                                        const char* channel,
                                        FlutterDesktopMessageCallback callback,
                                        void* user_data);
FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(
    FlutterDesktopMessengerRef messenger);
void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger);
FlutterDesktopMessengerRef FlutterDesktopMessengerLock(
    FlutterDesktopMessengerRef messenger);
void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger);
bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger);

// Process-wide services.
UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor);
void FlutterDesktopResyncOutputStreams(void);

#ifdef __cplusplus
}  // extern "C"
#endif

// The layouts the engine library reads. Checked where pointers are 64 bits,
// the only targets the program ships for.
#if defined(__cplusplus) && (defined(_WIN64) || defined(__LP64__))
static_assert(sizeof(FlutterDesktopEngineProperties) == 64,
              "engine properties record is 64 bytes");
static_assert(offsetof(FlutterDesktopEngineProperties, assets_path) == 0);
static_assert(offsetof(FlutterDesktopEngineProperties, icu_data_path) == 8);
static_assert(offsetof(FlutterDesktopEngineProperties, aot_library_path) == 16);
static_assert(offsetof(FlutterDesktopEngineProperties, entry_point) == 24);
static_assert(offsetof(FlutterDesktopEngineProperties, entry_point_argc) == 32);
static_assert(offsetof(FlutterDesktopEngineProperties, entry_point_argv) == 40);
static_assert(offsetof(FlutterDesktopEngineProperties, engine_option_1) == 48);
static_assert(offsetof(FlutterDesktopEngineProperties, engine_option_2) == 52);
static_assert(offsetof(FlutterDesktopEngineProperties, engine_option_3) == 56);
static_assert(offsetof(FlutterDesktopEngineProperties, reserved) == 60);
static_assert(sizeof(FlutterDesktopEngineProperties::entry_point_argc) == 4);
static_assert(offsetof(FlutterDesktopMessage, message) == 16,
              "message bytes at 16");
static_assert(offsetof(FlutterDesktopMessage, message_size) == 24,
              "message byte count at 24");
static_assert(sizeof(FlutterDesktopMessage::message_size) == 8);
static_assert(offsetof(FlutterDesktopMessage, response_handle) == 32,
              "response handle at 32");
#endif

#endif  // PLATFORM_ENGINE_ENGINE_API_H_
