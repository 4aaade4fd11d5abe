// The flat C interface of the engine library (flutter_windows.dll) as this
// program uses it: opaque handles, the two records passed across, the callback
// signatures and the 23 functions that the program calls.
//
// Messenger and engine functions are portable, so that the messenger and
// channel code also builds and is tested natively against a fake engine; the
// functions that deal in windows and monitors exist only on Windows.
#ifndef TALVOR_EMBEDDING_ENGINE_API_H_
#define TALVOR_EMBEDDING_ENGINE_API_H_

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef _WIN32
#include <windows.h>
#endif

// The engine library (or a stand-in of it) defines FLUTTER_ENGINE_IMPLEMENTATION
// while building itself so that the functions are exported; the program links
// them through the library's import library and needs no attribute.
#if defined(_WIN32) && defined(FLUTTER_ENGINE_IMPLEMENTATION)
#define FLUTTER_ENGINE_EXPORT __declspec(dllexport)
#else
#define FLUTTER_ENGINE_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Opaque handles owned by the engine library.
typedef struct FlutterDesktopEngine FlutterDesktopEngine;
typedef struct FlutterDesktopViewController FlutterDesktopViewController;
typedef struct FlutterDesktopView FlutterDesktopView;
typedef struct FlutterDesktopMessenger FlutterDesktopMessenger;
typedef struct FlutterDesktopPluginRegistrar FlutterDesktopPluginRegistrar;
typedef struct FlutterDesktopMessageResponseHandle FlutterDesktopMessageResponseHandle;

// What the engine is started from. The record and everything it points to
// are read during FlutterDesktopEngineCreate only.
typedef struct {
  const wchar_t* assets_path;
  const wchar_t* icu_data_path;
  const wchar_t* aot_library_path;
  const char* entrypoint;  // never null; empty for the default entrypoint
  int32_t entrypoint_argc;
  const char** entrypoint_argv;  // null when entrypoint_argc is 0
  int32_t option_code_1;
  int32_t option_code_2;
} FlutterDesktopEngineProperties;

// One message from the application, valid for the duration of the callback.
typedef struct {
  size_t struct_size;  // sizeof(FlutterDesktopMessage) as the engine knows it
  const char* channel;
  const uint8_t* message;
  size_t message_size;
  // Answers this message once through FlutterDesktopMessengerSendResponse.
  const FlutterDesktopMessageResponseHandle* response_handle;
} FlutterDesktopMessage;

// Receives the messages of one channel.
typedef void (*FlutterDesktopMessageCallback)(FlutterDesktopMessenger* messenger,
                                              const FlutterDesktopMessage* message,
                                              void* user_data);

// Receives the application's reply to a message sent with a reply expected.
// `data` is null when the reply is empty.
typedef void (*FlutterDesktopBinaryReply)(const uint8_t* data, size_t data_size, void* user_data);

// Called once after the next frame.
typedef void (*FlutterDesktopOnNextFrame)(void* user_data);

// Engine.
FLUTTER_ENGINE_EXPORT FlutterDesktopEngine* FlutterDesktopEngineCreate(
    const FlutterDesktopEngineProperties* properties);
FLUTTER_ENGINE_EXPORT bool FlutterDesktopEngineDestroy(FlutterDesktopEngine* engine);
FLUTTER_ENGINE_EXPORT FlutterDesktopMessenger* FlutterDesktopEngineGetMessenger(
    FlutterDesktopEngine* engine);
FLUTTER_ENGINE_EXPORT FlutterDesktopPluginRegistrar* FlutterDesktopEngineGetPluginRegistrar(
    FlutterDesktopEngine* engine, const char* plugin_name);
FLUTTER_ENGINE_EXPORT void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngine* engine);
FLUTTER_ENGINE_EXPORT void FlutterDesktopEngineSetNextFrameCallback(
    FlutterDesktopEngine* engine, FlutterDesktopOnNextFrame callback, void* user_data);

// Messenger.
FLUTTER_ENGINE_EXPORT bool FlutterDesktopMessengerSend(FlutterDesktopMessenger* messenger,
                                                       const char* channel,
                                                       const uint8_t* message,
                                                       size_t message_size);
FLUTTER_ENGINE_EXPORT bool FlutterDesktopMessengerSendWithReply(
    FlutterDesktopMessenger* messenger, const char* channel, const uint8_t* message,
    size_t message_size, FlutterDesktopBinaryReply reply, void* user_data);
FLUTTER_ENGINE_EXPORT void FlutterDesktopMessengerSetCallback(
    FlutterDesktopMessenger* messenger, const char* channel,
    FlutterDesktopMessageCallback callback, void* user_data);
FLUTTER_ENGINE_EXPORT void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessenger* messenger, const FlutterDesktopMessageResponseHandle* handle,
    const uint8_t* data, size_t data_size);
FLUTTER_ENGINE_EXPORT FlutterDesktopMessenger* FlutterDesktopMessengerAddRef(
    FlutterDesktopMessenger* messenger);
FLUTTER_ENGINE_EXPORT void FlutterDesktopMessengerRelease(FlutterDesktopMessenger* messenger);
// Returns what FlutterDesktopMessengerUnlock takes, or null when nothing was locked.
FLUTTER_ENGINE_EXPORT FlutterDesktopMessenger* FlutterDesktopMessengerLock(
    FlutterDesktopMessenger* messenger);
FLUTTER_ENGINE_EXPORT void FlutterDesktopMessengerUnlock(FlutterDesktopMessenger* messenger);
FLUTTER_ENGINE_EXPORT bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessenger* messenger);

// Output streams of the library follow a console opened after start-up.
FLUTTER_ENGINE_EXPORT void FlutterDesktopResyncOutputStreams(void);

#ifdef _WIN32
// View controller and view: the engine's view is a child window.
FLUTTER_ENGINE_EXPORT FlutterDesktopViewController* FlutterDesktopViewControllerCreate(
    int width, int height, FlutterDesktopEngine* engine);
FLUTTER_ENGINE_EXPORT void FlutterDesktopViewControllerDestroy(
    FlutterDesktopViewController* controller);
FLUTTER_ENGINE_EXPORT FlutterDesktopView* FlutterDesktopViewControllerGetView(
    FlutterDesktopViewController* controller);
FLUTTER_ENGINE_EXPORT void FlutterDesktopViewControllerForceRedraw(
    FlutterDesktopViewController* controller);
FLUTTER_ENGINE_EXPORT bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewController* controller, HWND window, UINT message, WPARAM wparam,
    LPARAM lparam, LRESULT* result);
FLUTTER_ENGINE_EXPORT HWND FlutterDesktopViewGetHWND(FlutterDesktopView* view);

// DPI of a monitor; 96 stands for a scale of 1.
FLUTTER_ENGINE_EXPORT UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor);
#endif  // _WIN32

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // TALVOR_EMBEDDING_ENGINE_API_H_
