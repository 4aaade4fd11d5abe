// What the engine stand-in offers its plugin stand-ins beyond the engine's
// own interface: the messenger of a plugin's registrar, a delegate that sees
// the top-level window's messages before the program does, and a notice when
// the engine goes away. Exported by the stand-in flutter_windows.dll only.
#ifndef TALVOR_STANDINS_PLUGIN_REGISTRAR_API_H_
#define TALVOR_STANDINS_PLUGIN_REGISTRAR_API_H_

#include "embedding/engine_api.h"

#ifdef __cplusplus
extern "C" {
#endif

// Offered every message that the program passes to
// FlutterDesktopViewControllerHandleTopLevelWindowProc. Returns true, with
// `result` filled, when it takes the message.
typedef bool (*TalvorStandinWindowProcDelegate)(HWND window, UINT message, WPARAM wparam,
                                                LPARAM lparam, LRESULT* result, void* user_data);

// Called once while the engine is being destroyed, before its messenger
// becomes unavailable; the plugin releases what it registered.
typedef void (*TalvorStandinRegistrarDestroyed)(void* user_data);

// The messenger of the registrar's engine (valid while the engine lives).
FLUTTER_ENGINE_EXPORT FlutterDesktopMessenger* TalvorStandinRegistrarGetMessenger(
    FlutterDesktopPluginRegistrar* registrar);

// Sets (or, with a null delegate, removes) the registrar's one delegate.
// Delegates are offered a message in the order their registrars were made;
// the first that takes it ends the offer.
FLUTTER_ENGINE_EXPORT void TalvorStandinRegistrarSetWindowProcDelegate(
    FlutterDesktopPluginRegistrar* registrar, TalvorStandinWindowProcDelegate delegate,
    void* user_data);

// Sets (or removes) the registrar's destruction notice.
FLUTTER_ENGINE_EXPORT void TalvorStandinRegistrarSetDestructionHandler(
    FlutterDesktopPluginRegistrar* registrar, TalvorStandinRegistrarDestroyed handler,
    void* user_data);

// How many messenger objects exist in this process: engines alive plus
// messengers still referenced after their engine ended. For tests.
FLUTTER_ENGINE_EXPORT int TalvorStandinLiveMessengerCount(void);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // TALVOR_STANDINS_PLUGIN_REGISTRAR_API_H_
