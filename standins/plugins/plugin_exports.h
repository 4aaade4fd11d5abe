// The functions that the plugin stand-ins export, as the program calls them.
#ifndef TALVOR_STANDINS_PLUGINS_PLUGIN_EXPORTS_H_
#define TALVOR_STANDINS_PLUGINS_PLUGIN_EXPORTS_H_

#include <windows.h>

#include "embedding/engine_api.h"

#if defined(TALVOR_PLUGIN_IMPLEMENTATION)
#define TALVOR_PLUGIN_EXPORT __declspec(dllexport)
#else
#define TALVOR_PLUGIN_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

// app_links_plugin.dll
TALVOR_PLUGIN_EXPORT void AppLinksPluginCApiRegisterWithRegistrar(FlutterDesktopPluginRegistrar* registrar);
// Hands this process's one command-line argument, as a deep link, to the
// instance that owns `window`. Does nothing unless there is exactly one.
TALVOR_PLUGIN_EXPORT void SendAppLink(HWND window);

// flutter_secure_storage_windows_plugin.dll
TALVOR_PLUGIN_EXPORT void FlutterSecureStorageWindowsPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrar* registrar);

// url_launcher_windows_plugin.dll
TALVOR_PLUGIN_EXPORT void UrlLauncherWindowsRegisterWithRegistrar(FlutterDesktopPluginRegistrar* registrar);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // TALVOR_STANDINS_PLUGINS_PLUGIN_EXPORTS_H_
