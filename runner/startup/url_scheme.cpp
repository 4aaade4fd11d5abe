#include "runner/startup/url_scheme.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <array>

#include "runner/log/log.h"
#include "runner/win32_handles.h"

namespace {

constexpr wchar_t kSchemeKey[] = L"Software\\Classes\\talvor";

// One REG_SZ value of the registration under HKEY_CURRENT_USER; `name` is
// null for the key's default value.
struct SchemeValue {
  std::wstring key;
  const wchar_t* name;
  std::wstring data;
};

// The four values, in the order in which they are written.
std::array<SchemeValue, 4> SchemeValuesFor(const std::wstring& executable_path) {
  const std::wstring base_key = kSchemeKey;
  return {{{base_key, nullptr, L"URL:Talvor Protocol"},
           {base_key, L"URL Protocol", L""},
           {base_key + L"\\DefaultIcon", nullptr, executable_path + L",0"},
           {base_key + L"\\shell\\open\\command", nullptr,
            L"\"" + executable_path + L"\" \"%1\""}}};
}

DWORD StoredByteCount(const std::wstring& data) {
  return static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
}

// Whether the value holds exactly what writing it would store: type REG_SZ
// and the same bytes, terminating zero included. Anything that cannot be
// read counts as different.
bool HoldsAlready(const SchemeValue& value) {
  talvor::UniqueRegistryKey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, value.key.c_str(), 0, KEY_QUERY_VALUE, key.put()) !=
      ERROR_SUCCESS) {
    return false;
  }
  // Room for one character more than expected, so that a longer value is
  // read (and differs) rather than refused for its size alone.
  std::wstring stored(value.data.size() + 2, L'\0');
  DWORD type = REG_NONE;
  DWORD size = static_cast<DWORD>(stored.size() * sizeof(wchar_t));
  if (RegQueryValueExW(key.get(), value.name, nullptr, &type,
                       reinterpret_cast<BYTE*>(&stored[0]), &size) != ERROR_SUCCESS) {
    return false;
  }
  return type == REG_SZ && size == StoredByteCount(value.data) &&
         std::equal(value.data.c_str(), value.data.c_str() + value.data.size() + 1, stored.c_str());
}

// Creates or opens the value's key and sets the value.
bool Write(const SchemeValue& value) {
  talvor::UniqueRegistryKey key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, value.key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE, nullptr, key.put(), nullptr) != ERROR_SUCCESS ||
      !key) {
    return false;
  }
  return RegSetValueExW(key.get(), value.name, 0, REG_SZ,
                        reinterpret_cast<const BYTE*>(value.data.c_str()),
                        StoredByteCount(value.data)) == ERROR_SUCCESS;
}

// The registration for the thread that makes it: silent whatever happens,
// a want of memory included.
void RegisterQuietly(const std::wstring& executable_path) noexcept {
  try {
    RegisterUrlScheme(executable_path);
  } catch (...) {
  }
}

}  // namespace

void RegisterUrlScheme(const std::wstring& executable_path) {
  const std::array<SchemeValue, 4> values = SchemeValuesFor(executable_path);
  // Nothing to change: the shell is not told either, since its notification
  // makes every shell window reload its associations.
  if (std::all_of(values.begin(), values.end(), HoldsAlready)) {
    talvor::log::Info("scheme", "talvor: in place, left as it is");
    return;
  }

  // Every step is attempted whatever became of the ones before.
  bool all_written = true;
  for (const SchemeValue& value : values) all_written = Write(value) && all_written;
  talvor::log::Write(all_written ? talvor::log::Level::kInfo : talvor::log::Level::kWarning, "scheme",
                     all_written ? "talvor: written" : "talvor: not all of it could be written");
  if (all_written) {
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  }
}

UrlSchemeRegistration::UrlSchemeRegistration(const std::wstring& executable_path) noexcept {
  if (executable_path.empty()) return;
  try {
    worker_ = std::thread(&RegisterQuietly, executable_path);
  } catch (...) {
    // No thread to be had: the start-up waits for the registration instead.
    RegisterQuietly(executable_path);
  }
}

void UrlSchemeRegistration::Finish() noexcept {
  if (worker_.joinable()) worker_.join();
}

