/* A stand-in of the core VPN library for the installation checks: it exports
   the required entry points, or all but two of them, and may need a library
   of its own (core_neighbour.dll). */
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
#ifdef CORE_NEEDS_NEIGHBOUR
__declspec(dllimport) int CoreNeighbour(void);
CORE_EXPORT int CoreAskNeighbour(void) { return CoreNeighbour(); }
#endif
