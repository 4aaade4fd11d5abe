// How the app links plugin stand-in hands a deep link from a second process
// to the running instance, and passes it on to the application.
#ifndef TALVOR_STANDINS_PLUGINS_APP_LINKS_PROTOCOL_H_
#define TALVOR_STANDINS_PLUGINS_APP_LINKS_PROTOCOL_H_

#include <windows.h>

#include <cstring>
#include <optional>
#include <string>

namespace talvor::standins {

// The channel on which the plugin gives the application a link: the message
// is the link's UTF-8 bytes.
inline constexpr char kAppLinksChannel[] = "talvor.standins/app_links";

// WM_COPYDATA carries the link as UTF-8 with one terminating NUL, tagged in
// dwData so that other senders' data is never taken for a link.
inline constexpr ULONG_PTR kAppLinkCopyDataTag = 0x4B4E4C54;  // "TLNK"
inline constexpr DWORD kMaxAppLinkBytes = 32 * 1024;

// Whether a WM_COPYDATA is tagged as a link hand-off at all.
inline bool IsAppLinkCopyData(const COPYDATASTRUCT* data) {
  return data != nullptr && data->dwData == kAppLinkCopyDataTag;
}

// The link carried by a tagged WM_COPYDATA; nothing when the data is not
// one non-empty, NUL-terminated text of at most kMaxAppLinkBytes.
inline std::optional<std::string> ReadAppLinkCopyData(const COPYDATASTRUCT* data) {
  if (!IsAppLinkCopyData(data) || data->lpData == nullptr) return std::nullopt;
  if (data->cbData < 2 || data->cbData > kMaxAppLinkBytes + 1) return std::nullopt;
  const char* bytes = static_cast<const char*>(data->lpData);
  const size_t length = data->cbData - 1;
  if (bytes[length] != '\0' || std::memchr(bytes, '\0', length) != nullptr) return std::nullopt;
  return std::string(bytes, length);
}

}  // namespace talvor::standins

#endif  // TALVOR_STANDINS_PLUGINS_APP_LINKS_PROTOCOL_H_
