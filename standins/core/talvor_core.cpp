#include "standins/core/talvor_core.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr char kNotConnected[] = "{\"state\":\"disconnected\",\"connected\":false}";
constexpr char kVersion[] = "0.0.0-standin";
constexpr int kRefused = -1;

char* CopyForCaller(const char* text) {
  const size_t size = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(std::malloc(size));
  if (copy != nullptr) std::memcpy(copy, text, size);
  return copy;
}

}  // namespace

extern "C" {

#ifndef TALVOR_CORE_OMIT_BridgeInit
int BridgeInit(void) { return 0; }
#endif

#ifndef TALVOR_CORE_OMIT_BridgeInitFromJSON
int BridgeInitFromJSON(const char*) { return 0; }
#endif

#ifndef TALVOR_CORE_OMIT_BridgeStart
int BridgeStart(void) { return kRefused; }
#endif

#ifndef TALVOR_CORE_OMIT_BridgeStop
int BridgeStop(void) { return 0; }
#endif

#ifndef TALVOR_CORE_OMIT_BridgeStatus
char* BridgeStatus(void) { return CopyForCaller(kNotConnected); }
#endif

#ifndef TALVOR_CORE_OMIT_BridgeFree
void BridgeFree(char* text) { std::free(text); }
#endif

#ifndef TALVOR_CORE_OMIT_Talvor_Connect
int Talvor_Connect(const char*) { return kRefused; }
#endif

#ifndef TALVOR_CORE_OMIT_Talvor_Disconnect
int Talvor_Disconnect(void) { return 0; }
#endif

#ifndef TALVOR_CORE_OMIT_Talvor_GetStatus
char* Talvor_GetStatus(void) { return CopyForCaller(kNotConnected); }
#endif

#ifndef TALVOR_CORE_OMIT_Talvor_GetVersion
char* Talvor_GetVersion(void) { return CopyForCaller(kVersion); }
#endif

}  // extern "C"
