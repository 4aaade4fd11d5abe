#include "runner/url_scheme.h"

#include <windows.h>
#include <shlobj.h>

#include "runner/win32_handles.h"

namespace {

constexpr wchar_t kSchemeKey[] = L"Software\\Classes\\talvor";

// Creates or opens `key_name` under HKEY_CURRENT_USER and sets one string
// value (the default value when `value_name` is null).
bool WriteStringValue(const std::wstring& key_name, const wchar_t* value_name,
                      const std::wstring& data) {
  talvor::UniqueRegistryKey key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, key_name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE, nullptr, key.put(), nullptr) != ERROR_SUCCESS ||
      !key) {
    return false;
  }
  const DWORD byte_count = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
  return RegSetValueExW(key.get(), value_name, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(data.c_str()), byte_count) == ERROR_SUCCESS;
}

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool IsSchemeCharacter(char c) {
  return IsAsciiLetter(c) || (c >= '0' && c <= '9') || c == '+' || c == '.' || c == '-';
}

// Matches ^[a-z][a-z0-9+.-]+: without regard to case. Scanned by hand: the
// standard library's regular expressions recurse once per character and run
// out of stack on a scheme-like argument of a few thousand characters.
bool StartsWithUriScheme(const std::string& text) {
  if (text.empty() || !IsAsciiLetter(text[0])) return false;
  size_t end = 1;
  while (end < text.size() && IsSchemeCharacter(text[end])) ++end;
  return end >= 2 && end < text.size() && text[end] == ':';
}

}  // namespace

void RegisterUrlScheme(const std::wstring& executable_path) {
  const std::wstring base_key = kSchemeKey;
  const std::wstring icon_key = base_key + L"\\DefaultIcon";
  const std::wstring command_key = base_key + L"\\shell\\open\\command";
  const std::wstring command = L"\"" + executable_path + L"\" \"%1\"";
  const std::wstring icon = executable_path + L",0";

  // Every step is attempted whatever became of the ones before.
  bool all_written = WriteStringValue(base_key, nullptr, L"URL:Talvor Protocol");
  all_written = WriteStringValue(base_key, L"URL Protocol", L"") && all_written;
  all_written = WriteStringValue(icon_key, nullptr, icon) && all_written;
  all_written = WriteStringValue(command_key, nullptr, command) && all_written;
  if (all_written) {
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  }
}

bool IsDeepLinkInvocation(const std::vector<std::string>& arguments) {
  if (arguments.size() != 1) return false;
  return StartsWithUriScheme(arguments.front());
}
