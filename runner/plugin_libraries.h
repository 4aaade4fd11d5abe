// The functions of the three plugin libraries that the program calls: the
// registration of each plugin with the engine, and the app links plugin's
// hand-over of a deep link to a running instance.
#ifndef TALVOR_RUNNER_PLUGIN_LIBRARIES_H_
#define TALVOR_RUNNER_PLUGIN_LIBRARIES_H_

#include <windows.h>

#include "embedding/engine_api.h"

// A plugin library defines PLUGIN_LIBRARY_IMPLEMENTATION while building
// itself; the program links the functions through the import libraries.
#if defined(PLUGIN_LIBRARY_IMPLEMENTATION)
#define PLUGIN_LIBRARY_EXPORT __declspec(dllexport)
#else
#define PLUGIN_LIBRARY_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

// app_links_plugin.dll
PLUGIN_LIBRARY_EXPORT void AppLinksPluginCApiRegisterWithRegistrar(
    FlutterDesktopPluginRegistrar* registrar);
// Delivers this process's link to the running instance that owns `window`.
PLUGIN_LIBRARY_EXPORT void SendAppLink(HWND window);

// flutter_secure_storage_windows_plugin.dll
PLUGIN_LIBRARY_EXPORT void FlutterSecureStorageWindowsPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrar* registrar);

// url_launcher_windows_plugin.dll
PLUGIN_LIBRARY_EXPORT void UrlLauncherWindowsRegisterWithRegistrar(
    FlutterDesktopPluginRegistrar* registrar);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // TALVOR_RUNNER_PLUGIN_LIBRARIES_H_
