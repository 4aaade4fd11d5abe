#include "runner/startup/url_scheme.h"

#include <windows.h>
#include <sddl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "runner/win32_handles.h"
#include "tests/support/system_state.h"
#include "tests/support/talvor_program.h"
#include "tests/support/wait.h"

namespace {

using talvor::test::DeleteRegistryTree;
using talvor::test::ExpectUrlSchemeRegisteredFor;
using talvor::test::kUrlSchemeKey;
using talvor::test::ReadRegistryValue;
using talvor::test::RegistryKeyExists;
using talvor::test::RegistryStringBytes;
using talvor::test::StoreUrlSchemeRegistrationFor;
using talvor::test::WaitUntil;

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

// Stores one value exactly as given, creating its key when needed.
bool StoreBytes(const std::wstring& key_name, const wchar_t* name, DWORD type, const void* data, size_t size) {
  talvor::UniqueRegistryKey key;
  return RegCreateKeyExW(HKEY_CURRENT_USER, key_name.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                         nullptr) == ERROR_SUCCESS &&
         RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size)) ==
             ERROR_SUCCESS;
}

bool Store(const std::wstring& key_name, const wchar_t* name, DWORD type, const std::vector<uint8_t>& bytes) {
  return StoreBytes(key_name, name, type, bytes.data(), bytes.size());
}

// Stores `text` as REG_SZ without its terminating zero. (Followed in memory
// by a zero, the system would count the zero in.)
bool StoreUnterminated(const std::wstring& key_name, const wchar_t* name, const std::wstring& text) {
  const std::wstring followed = text + L"!";
  return StoreBytes(key_name, name, REG_SZ, followed.c_str(), text.size() * sizeof(wchar_t));
}

const std::wstring kBase = kUrlSchemeKey;
const std::wstring kIconKey = kBase + L"\\DefaultIcon";
const std::wstring kCommandKey = kBase + L"\\shell\\open\\command";

std::vector<uint8_t> WithSecondTerminator(std::vector<uint8_t> bytes) {
  bytes.insert(bytes.end(), sizeof(wchar_t), 0);
  return bytes;
}

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

TEST_F(RegisterUrlSchemeTest, AMovedProgramTakesTheSchemeOver) {
  RegisterUrlScheme(L"C:\\Old Place\\talvor_app.exe");
  const std::wstring moved = L"D:\\Apps\\Талвор\\talvor_app.exe";
  AssociationChangeWatch shell;
  ASSERT_TRUE(shell.registered());
  RegisterUrlScheme(moved);
  ExpectUrlSchemeRegisteredFor(moved);
  EXPECT_EQ(shell.count(), 1);
}

TEST_F(RegisterUrlSchemeTest, ARegistrationInPlaceIsLeftAsItIsAndTheShellUntold) {
  const std::wstring executable = L"C:\\Program Files\\Talvor VPN\\talvor_app.exe";
  ASSERT_TRUE(StoreUrlSchemeRegistrationFor(executable));
  AssociationChangeWatch shell;
  ASSERT_TRUE(shell.registered());
  RegisterUrlScheme(executable);
  RegisterUrlScheme(executable);
  ExpectUrlSchemeRegisteredFor(executable);
  EXPECT_EQ(shell.count(), 0);
}

// Whatever differs from what would be written, in text, type, length or
// presence, has all four values written and the shell told.
TEST_F(RegisterUrlSchemeTest, AnyValueThatDiffersHasAllFourWrittenAndTheShellTold) {
  const std::wstring executable = L"C:\\Program Files\\Talvor VPN\\talvor_app.exe";
  const std::wstring command = L"\"" + executable + L"\" \"%1\"";
  struct Change {
    const char* what;
    std::function<bool()> make;
  };
  const Change changes[] = {
      {"another description", [] { return Store(kBase, nullptr, REG_SZ, RegistryStringBytes(L"URL:Other")); }},
      {"no URL Protocol value",
       [] { return RegDeleteKeyValueW(HKEY_CURRENT_USER, kUrlSchemeKey, L"URL Protocol") == ERROR_SUCCESS; }},
      {"the icon of a copy elsewhere",
       [] { return Store(kIconKey, nullptr, REG_SZ, RegistryStringBytes(L"C:\\Old Place\\talvor_app.exe,0")); }},
      {"no command key",
       [] { return RegDeleteTreeW(HKEY_CURRENT_USER, (kBase + L"\\shell").c_str()) == ERROR_SUCCESS; }},
      {"the command as REG_EXPAND_SZ",
       [&] { return Store(kCommandKey, nullptr, REG_EXPAND_SZ, RegistryStringBytes(command)); }},
      {"the icon without its terminating zero",
       [&] { return StoreUnterminated(kIconKey, nullptr, executable + L",0"); }},
      {"the description with a second terminating zero",
       [] {
         return Store(kBase, nullptr, REG_SZ, WithSecondTerminator(RegistryStringBytes(L"URL:Talvor Protocol")));
       }},
      {"the command one character longer",
       [&] { return Store(kCommandKey, nullptr, REG_SZ, RegistryStringBytes(command + L"x")); }},
      {"the command with a further argument",
       [&] { return Store(kCommandKey, nullptr, REG_SZ, RegistryStringBytes(command + L" --hidden")); }},
  };
  for (const Change& change : changes) {
    SCOPED_TRACE(change.what);
    ASSERT_TRUE(StoreUrlSchemeRegistrationFor(executable));
    ASSERT_TRUE(change.make());
    AssociationChangeWatch shell;
    ASSERT_TRUE(shell.registered());
    RegisterUrlScheme(executable);
    ExpectUrlSchemeRegisteredFor(executable);
    EXPECT_EQ(shell.count(), 1);
  }
}

TEST_F(RegisterUrlSchemeTest, OnItsOwnThreadTheRegistrationIsInPlaceOnceFinishedOrGone) {
  ASSERT_TRUE(DeleteRegistryTree(HKEY_CURRENT_USER, kUrlSchemeKey));
  { const UrlSchemeRegistration nothing(L""); }
  EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, kUrlSchemeKey)) << "an empty path registers nothing";

  const std::wstring first = L"C:\\Apps\\talvor_app.exe";
  {
    AssociationChangeWatch shell;
    ASSERT_TRUE(shell.registered());
    UrlSchemeRegistration registration(first);
    // The shell hands its notification to the watching window's thread, this
    // one, and waits until it is taken: it is taken before waiting here.
    EXPECT_TRUE(WaitUntil([&] { return shell.count() == 1; }));
    registration.Finish();
    ExpectUrlSchemeRegisteredFor(first);
    EXPECT_EQ(shell.count(), 1);
  }

  const std::wstring moved = L"D:\\Elsewhere\\talvor_app.exe";
  { const UrlSchemeRegistration registration(moved); }
  ExpectUrlSchemeRegisteredFor(moved);
}

}  // namespace
