// The one function of the app links plugin library (app_links_plugin.dll)
// that the start-up calls directly.
#ifndef TALVOR_RUNNER_APP_LINKS_PLUGIN_API_H_
#define TALVOR_RUNNER_APP_LINKS_PLUGIN_API_H_

#include <windows.h>

// The plugin library defines APP_LINKS_PLUGIN_IMPLEMENTATION while building
// itself; the program links the function through the import library.
#if defined(APP_LINKS_PLUGIN_IMPLEMENTATION)
#define APP_LINKS_PLUGIN_EXPORT __declspec(dllexport)
#else
#define APP_LINKS_PLUGIN_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Delivers this process's link to the running instance that owns `window`.
APP_LINKS_PLUGIN_EXPORT void SendAppLink(HWND window);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // TALVOR_RUNNER_APP_LINKS_PLUGIN_API_H_
