/* A stand-in of the core VPN library for the installation checks: it exports
   the required entry points, or all but two of them. */
#define CORE_EXPORT __declspec(dllexport)

CORE_EXPORT int BridgeInit(void) { return 0; }
CORE_EXPORT int BridgeInitFromJSON(void) { return 0; }
CORE_EXPORT int BridgeStart(void) { return 0; }
#ifndef CORE_LACKS_SOME_EXPORTS
CORE_EXPORT int BridgeStop(void) { return 0; }
#endif
CORE_EXPORT int BridgeStatus(void) { return 0; }
CORE_EXPORT int BridgeFree(void) { return 0; }
CORE_EXPORT int Talvor_Connect(void) { return 0; }
CORE_EXPORT int Talvor_Disconnect(void) { return 0; }
CORE_EXPORT int Talvor_GetStatus(void) { return 0; }
#ifndef CORE_LACKS_SOME_EXPORTS
CORE_EXPORT int Talvor_GetVersion(void) { return 0; }
#endif
