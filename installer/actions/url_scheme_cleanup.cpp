#include "installer/actions/url_scheme_cleanup.h"

#include <shlobj.h>

#include <vector>

#include "installer/actions/folder_rules.h"

namespace talvor::installer {

namespace {

// The default value of `key`\shell\open\command; empty when it is missing or
// not a string.
std::wstring OpenCommand(HKEY root, const std::wstring& key) {
  const std::wstring command_key = key + L"\\shell\\open\\command";
  DWORD size = 0;
  if (RegGetValueW(root, command_key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS) {
    return {};
  }
  std::vector<wchar_t> value(size / sizeof(wchar_t) + 1);
  size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
  if (RegGetValueW(root, command_key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value.data(), &size) !=
      ERROR_SUCCESS) {
    return {};
  }
  return value.data();
}

}  // namespace

bool RemoveUrlSchemeOf(const std::wstring& folder, HKEY root, const std::wstring& scheme_key, const Log& log) {
  const std::wstring command = OpenCommand(root, scheme_key);
  if (command.empty()) return false;
  const std::wstring program = ExecutableOfOpenCommand(command);
  if (!IsInFolder(program, folder)) {
    log(L"Left the URL scheme alone: it starts " + program + L", another copy.");
    return false;
  }
  const LSTATUS status = RegDeleteTreeW(root, scheme_key.c_str());
  if (status != ERROR_SUCCESS) {
    log(L"Could not remove the URL scheme: error " + std::to_wstring(status) + L".");
    return false;
  }
  log(L"Removed the URL scheme of " + program + L".");
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  return true;
}

}  // namespace talvor::installer
