// The core VPN library stand-in (talvor.dll): the ten entry points that the
// program checks for, with harmless bodies. Nothing here connects anything:
// every request to connect is refused and the status stays "not connected".
//
// A build may leave out chosen exports (TALVOR_CORE_OMIT_<name>), for the
// start-up checks of a library that lacks them.
#ifndef TALVOR_STANDINS_CORE_TALVOR_CORE_H_
#define TALVOR_STANDINS_CORE_TALVOR_CORE_H_

#if defined(TALVOR_CORE_IMPLEMENTATION)
#define TALVOR_CORE_EXPORT __declspec(dllexport)
#else
#define TALVOR_CORE_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Results: 0 success, -1 refused (this library cannot connect).
TALVOR_CORE_EXPORT int BridgeInit(void);
TALVOR_CORE_EXPORT int BridgeInitFromJSON(const char* config_json);
TALVOR_CORE_EXPORT int BridgeStart(void);
TALVOR_CORE_EXPORT int BridgeStop(void);
// Texts are UTF-8 JSON owned by the caller, released with BridgeFree.
TALVOR_CORE_EXPORT char* BridgeStatus(void);
TALVOR_CORE_EXPORT void BridgeFree(char* text);
TALVOR_CORE_EXPORT int Talvor_Connect(const char* config_json);
TALVOR_CORE_EXPORT int Talvor_Disconnect(void);
TALVOR_CORE_EXPORT char* Talvor_GetStatus(void);
TALVOR_CORE_EXPORT char* Talvor_GetVersion(void);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // TALVOR_STANDINS_CORE_TALVOR_CORE_H_
