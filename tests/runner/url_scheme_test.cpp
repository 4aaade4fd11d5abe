#include "runner/url_scheme.h"

#include <windows.h>
#include <sddl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runner/win32_handles.h"

namespace {

constexpr wchar_t kSchemeKey[] = L"Software\\Classes\\talvor";

struct RegistryValue {
  DWORD type = 0;
  std::string bytes;
};

RegistryValue ReadValue(const std::wstring& key_name, const wchar_t* value_name) {
  talvor::UniqueRegistryKey key;
  RegistryValue value;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key_name.c_str(), 0, KEY_QUERY_VALUE, key.put()) !=
      ERROR_SUCCESS) {
    return value;
  }
  DWORD size = 0;
  if (RegQueryValueExW(key.get(), value_name, nullptr, &value.type, nullptr, &size) !=
      ERROR_SUCCESS) {
    return value;
  }
  value.bytes.resize(size);
  RegQueryValueExW(key.get(), value_name, nullptr, &value.type,
                   reinterpret_cast<BYTE*>(value.bytes.data()), &size);
  value.bytes.resize(size);
  return value;
}

// The bytes of a REG_SZ value: UTF-16 with its terminating zero.
std::string StoredString(const std::wstring& text) {
  return std::string(reinterpret_cast<const char*>(text.c_str()),
                     (text.size() + 1) * sizeof(wchar_t));
}

// Counts the shell's "associations changed" notifications of this process,
// as the shell's own windows receive them.
class AssociationChangeWatch {
 public:
  AssociationChangeWatch() {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = &AssociationChangeWatch::Procedure;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = kClassName;
    RegisterClassW(&window_class);
    window_.reset(CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr));
    SetWindowLongPtrW(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SHChangeNotifyEntry everything{nullptr, TRUE};
    registration_ = SHChangeNotifyRegister(window_.get(), SHCNRF_ShellLevel | SHCNRF_InterruptLevel,
                                           SHCNE_ASSOCCHANGED, kNotifyMessage, 1, &everything);
  }
  ~AssociationChangeWatch() {
    if (registration_ != 0) SHChangeNotifyDeregister(registration_);
  }

  bool registered() const { return window_ && registration_ != 0; }

  // Notifications so far. The shell delivers them to a window of the
  // notifying thread before SHChangeNotify returns; pending ones are taken.
  int count() {
    MSG message;
    while (PeekMessageW(&message, window_.get(), 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    return count_;
  }

 private:
  static constexpr wchar_t kClassName[] = L"talvor-association-watch";
  static constexpr UINT kNotifyMessage = WM_APP + 17;

  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == kNotifyMessage && static_cast<LONG>(lparam) == SHCNE_ASSOCCHANGED) {
      auto* watch = reinterpret_cast<AssociationChangeWatch*>(GetWindowLongPtrW(window, GWLP_USERDATA));
      if (watch != nullptr) ++watch->count_;
      return 0;
    }
    return DefWindowProcW(window, message, wparam, lparam);
  }

  talvor::UniqueWindow window_;
  ULONG registration_ = 0;
  int count_ = 0;
};

// Refuses setting values in one key under HKEY_CURRENT_USER, as a key locked
// by an administrator does, and gives the key its old permissions back.
class ValuesRefusedIn {
 public:
  explicit ValuesRefusedIn(const std::wstring& key_name) {
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key_name.c_str(), 0, nullptr, 0,
                        READ_CONTROL | WRITE_DAC, nullptr, key_.put(), nullptr) != ERROR_SUCCESS) {
      return;
    }
    DWORD size = 0;
    RegGetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION, nullptr, &size);
    former_.resize(size);
    if (size == 0 || RegGetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION, former_.data(),
                                       &size) != ERROR_SUCCESS) {
      return;
    }
    // Everyone: setting values denied, all else allowed.
    PSECURITY_DESCRIPTOR refusing = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(D;;0x2;;;WD)(A;;GA;;;WD)",
                                                              SDDL_REVISION_1, &refusing, nullptr)) {
      return;
    }
    active_ = RegSetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION, refusing) == ERROR_SUCCESS;
    LocalFree(refusing);
  }
  ~ValuesRefusedIn() {
    if (active_) RegSetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION, former_.data());
  }

  bool active() const { return active_; }

 private:
  talvor::UniqueRegistryKey key_;
  std::vector<BYTE> former_;
  bool active_ = false;
};

class RegisterUrlSchemeTest : public testing::Test {
 protected:
  void SetUp() override {
    talvor::UniqueRegistryKey existing;
    had_scheme_ = RegOpenKeyExW(HKEY_CURRENT_USER, kSchemeKey, 0, KEY_READ, existing.put()) ==
                  ERROR_SUCCESS;
  }
  void TearDown() override {
    if (!had_scheme_) RegDeleteTreeW(HKEY_CURRENT_USER, kSchemeKey);
  }

  void ExpectRegisteredFor(const std::wstring& executable) {
    const std::wstring base = kSchemeKey;
    const RegistryValue description = ReadValue(base, nullptr);
    EXPECT_EQ(description.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(description.bytes, StoredString(L"URL:Talvor Protocol"));

    const RegistryValue protocol = ReadValue(base, L"URL Protocol");
    EXPECT_EQ(protocol.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(protocol.bytes, std::string(2, '\0'));

    const RegistryValue icon = ReadValue(base + L"\\DefaultIcon", nullptr);
    EXPECT_EQ(icon.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(icon.bytes, StoredString(executable + L",0"));

    const RegistryValue command = ReadValue(base + L"\\shell\\open\\command", nullptr);
    EXPECT_EQ(command.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(command.bytes, StoredString(L"\"" + executable + L"\" \"%1\""));
  }

  bool had_scheme_ = false;
};

TEST_F(RegisterUrlSchemeTest, WritesTheFourValuesForAPathWithBlanksAndTellsTheShell) {
  AssociationChangeWatch shell;
  ASSERT_TRUE(shell.registered());
  const std::wstring executable = L"C:\\Program Files\\Talvor VPN\\talvor_app.exe";
  RegisterUrlScheme(executable);
  ExpectRegisteredFor(executable);
  EXPECT_EQ(shell.count(), 1);
}

TEST_F(RegisterUrlSchemeTest, AValueThatCannotBeWrittenKeepsTheShellUntold) {
  RegisterUrlScheme(L"C:\\Old Place\\talvor_app.exe");
  ASSERT_EQ(RegDeleteKeyValueW(HKEY_CURRENT_USER, kSchemeKey, nullptr), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteKeyValueW(HKEY_CURRENT_USER, kSchemeKey, L"URL Protocol"), ERROR_SUCCESS);
  AssociationChangeWatch shell;
  ASSERT_TRUE(shell.registered());
  const std::wstring moved = L"D:\\New Place\\talvor_app.exe";
  {
    const ValuesRefusedIn icon_key(std::wstring(kSchemeKey) + L"\\DefaultIcon");
    ASSERT_TRUE(icon_key.active());
    RegisterUrlScheme(moved);
    EXPECT_EQ(shell.count(), 0);
  }
  // The steps before the refused one are written anew.
  const std::wstring base = kSchemeKey;
  EXPECT_EQ(ReadValue(base, nullptr).bytes, StoredString(L"URL:Talvor Protocol"));
  EXPECT_EQ(ReadValue(base, L"URL Protocol").bytes, std::string(2, '\0'));
  EXPECT_EQ(ReadValue(base + L"\\DefaultIcon", nullptr).bytes,
            StoredString(L"C:\\Old Place\\talvor_app.exe,0"))
      << "the refused value keeps its old data";
  EXPECT_EQ(ReadValue(base + L"\\shell\\open\\command", nullptr).bytes,
            StoredString(L"\"" + moved + L"\" \"%1\""))
      << "the step after the refused one is still taken";
}

TEST_F(RegisterUrlSchemeTest, EveryRunRewritesTheRegistration) {
  RegisterUrlScheme(L"C:\\Old Place\\talvor_app.exe");
  const std::wstring moved = L"D:\\Apps\\Талвор\\talvor_app.exe";
  RegisterUrlScheme(moved);
  ExpectRegisteredFor(moved);
}

}  // namespace
