#include "runner/url_scheme.h"

#include <windows.h>
#include <sddl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "runner/win32_handles.h"
#include "tests/support/system_state.h"
#include "tests/support/talvor_program.h"

namespace {

using talvor::test::DeleteRegistryTree;
using talvor::test::ExpectUrlSchemeRegisteredFor;
using talvor::test::kUrlSchemeKey;
using talvor::test::ReadRegistryValue;
using talvor::test::RegistryKeyExists;
using talvor::test::RegistryStringBytes;

// The bytes stored in a value; empty when it does not exist.
std::vector<uint8_t> StoredBytes(const std::wstring& key, const wchar_t* name) {
  const std::optional<talvor::test::RegistryValue> value = ReadRegistryValue(HKEY_CURRENT_USER, key, name);
  return value ? value->bytes : std::vector<uint8_t>{};
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
  void SetUp() override { had_scheme_ = RegistryKeyExists(HKEY_CURRENT_USER, kUrlSchemeKey); }
  void TearDown() override {
    if (!had_scheme_) DeleteRegistryTree(HKEY_CURRENT_USER, kUrlSchemeKey);
  }

  bool had_scheme_ = false;
};

TEST_F(RegisterUrlSchemeTest, WritesTheFourValuesForAPathWithBlanksAndTellsTheShell) {
  AssociationChangeWatch shell;
  ASSERT_TRUE(shell.registered());
  const std::wstring executable = L"C:\\Program Files\\Talvor VPN\\talvor_app.exe";
  RegisterUrlScheme(executable);
  ExpectUrlSchemeRegisteredFor(executable);
  EXPECT_EQ(shell.count(), 1);
}

TEST_F(RegisterUrlSchemeTest, AValueThatCannotBeWrittenKeepsTheShellUntold) {
  RegisterUrlScheme(L"C:\\Old Place\\talvor_app.exe");
  ASSERT_EQ(RegDeleteKeyValueW(HKEY_CURRENT_USER, kUrlSchemeKey, nullptr), ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteKeyValueW(HKEY_CURRENT_USER, kUrlSchemeKey, L"URL Protocol"), ERROR_SUCCESS);
  AssociationChangeWatch shell;
  ASSERT_TRUE(shell.registered());
  const std::wstring moved = L"D:\\New Place\\talvor_app.exe";
  {
    const ValuesRefusedIn icon_key(std::wstring(kUrlSchemeKey) + L"\\DefaultIcon");
    ASSERT_TRUE(icon_key.active());
    RegisterUrlScheme(moved);
    EXPECT_EQ(shell.count(), 0);
  }
  // The steps before the refused one are written anew.
  const std::wstring base = kUrlSchemeKey;
  EXPECT_EQ(StoredBytes(base, nullptr), RegistryStringBytes(L"URL:Talvor Protocol"));
  EXPECT_EQ(StoredBytes(base, L"URL Protocol"), std::vector<uint8_t>(2, 0));
  EXPECT_EQ(StoredBytes(base + L"\\DefaultIcon", nullptr), RegistryStringBytes(L"C:\\Old Place\\talvor_app.exe,0"))
      << "the refused value keeps its old data";
  EXPECT_EQ(StoredBytes(base + L"\\shell\\open\\command", nullptr),
            RegistryStringBytes(L"\"" + moved + L"\" \"%1\""))
      << "the step after the refused one is still taken";
}

TEST_F(RegisterUrlSchemeTest, EveryRunRewritesTheRegistration) {
  RegisterUrlScheme(L"C:\\Old Place\\talvor_app.exe");
  const std::wstring moved = L"D:\\Apps\\Талвор\\talvor_app.exe";
  RegisterUrlScheme(moved);
  ExpectUrlSchemeRegisteredFor(moved);
}

}  // namespace
