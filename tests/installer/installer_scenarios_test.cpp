// The installer package under Wine's msiexec, in a prefix made afresh for
// each test run: silent installation, the installed program, upgrades,
// refusals and removal, observed from outside as an administrator would.
// Each scenario starts with nothing of the program installed and leaves
// nothing installed.
#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "codec/encodable_value.h"
#include "tests/scenarios/scenario.h"
#include "tests/support/system_state.h"

namespace talvor::test {
namespace {

namespace fs = std::filesystem;
using flutter::EncodableMap;
using flutter::EncodableValue;
using standins::MethodReply;

constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr wchar_t kInstallerProductsKey[] = L"Software\\Classes\\Installer\\Products";
constexpr wchar_t kProductName[] = L"Talvor VPN";
constexpr wchar_t kRetiredAsset[] = L"data\\flutter_assets\\retired_asset.json";
// The exit code of a package that refused to install (ERROR_INSTALL_FAILURE).
constexpr DWORD kInstallFailure = 1603;

// The two packages: this build's program and an older one.
struct Package {
  const char* configured_path;
  const wchar_t* file_version;      // in talvor_app.exe's version block
  const wchar_t* display_version;   // in the Programs and Features entry
};
const Package kCurrent{TALVOR_TEST_CURRENT_PACKAGE, L"1.0.0.14", L"1.0.14"};
const Package kPrevious{TALVOR_TEST_PREVIOUS_PACKAGE, L"1.0.0.13", L"1.0.13"};

std::wstring PathOf(const Package& package) { return BuildPath(package.configured_path); }

fs::path KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  fs::path folder;
  if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path))) folder = path;
  CoTaskMemFree(path);
  return folder;
}

fs::path InstallationFolder() { return KnownFolder(FOLDERID_ProgramFiles) / kProductName; }

std::wstring RegistryText(const std::optional<RegistryValue>& value) {
  if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ) || value->bytes.size() < 2) return {};
  return std::wstring(reinterpret_cast<const wchar_t*>(value->bytes.data()), value->bytes.size() / 2 - 1);
}

std::optional<DWORD> RegistryNumber(const std::optional<RegistryValue>& value) {
  if (!value || value->type != REG_DWORD || value->bytes.size() != sizeof(DWORD)) return std::nullopt;
  return *reinterpret_cast<const DWORD*>(value->bytes.data());
}

// The keys below `parent` in HKLM whose `name_value` is "Talvor VPN".
std::vector<std::wstring> ProductKeysUnder(const std::wstring& parent, const wchar_t* name_value) {
  std::vector<std::wstring> keys;
  for (const std::wstring& name : RegistrySubkeyNames(HKEY_LOCAL_MACHINE, parent)) {
    const std::wstring key = parent + L"\\" + name;
    if (RegistryText(ReadRegistryValue(HKEY_LOCAL_MACHINE, key, name_value)) == kProductName) keys.push_back(key);
  }
  return keys;
}

// The Programs and Features entries of the program.
std::vector<std::wstring> Entries() { return ProductKeysUnder(kUninstallKey, L"DisplayName"); }

std::wstring EntryValue(const std::wstring& entry, const wchar_t* name) {
  return RegistryText(ReadRegistryValue(HKEY_LOCAL_MACHINE, entry, name));
}

// Every file below `folder`, as paths relative to it, sorted.
std::vector<fs::path> FilesBelow(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code error;
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (it->is_regular_file()) files.push_back(fs::relative(it->path(), folder));
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The Start menu shortcut as the shell reads it.
struct Shortcut {
  fs::path file;
  std::wstring target;
  std::wstring working_directory;
  std::wstring icon;
  int icon_index = -1;
};

struct ComRelease {
  void operator()(IUnknown* object) const { object->Release(); }
};

std::optional<Shortcut> ReadShortcut(const fs::path& file) {
  IShellLinkW* raw_link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&raw_link)))) {
    return std::nullopt;
  }
  std::unique_ptr<IShellLinkW, ComRelease> link(raw_link);
  IPersistFile* raw_persist = nullptr;
  if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&raw_persist)))) return std::nullopt;
  std::unique_ptr<IPersistFile, ComRelease> persist(raw_persist);
  if (FAILED(persist->Load(file.c_str(), STGM_READ))) return std::nullopt;
  Shortcut shortcut;
  shortcut.file = file;
  wchar_t text[MAX_PATH] = {};
  if (SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH))) shortcut.target = text;
  if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH))) shortcut.working_directory = text;
  if (SUCCEEDED(link->GetIconLocation(text, MAX_PATH, &shortcut.icon_index))) shortcut.icon = text;
  return shortcut;
}

// Where "Talvor VPN.lnk" may be: the Start menu of all users, which a
// per-machine package means, or the user's, which Wine gives any package.
std::vector<fs::path> ShortcutPlaces() {
  return {KnownFolder(FOLDERID_CommonPrograms) / L"Talvor VPN.lnk", KnownFolder(FOLDERID_Programs) / L"Talvor VPN.lnk"};
}

std::vector<fs::path> ShortcutsPresent() {
  std::vector<fs::path> present;
  for (const fs::path& place : ShortcutPlaces()) {
    if (FileExists(place)) present.push_back(place);
  }
  return present;
}

// The menu entry that Wine's winemenubuilder would make of the shortcut on
// the Linux desktop, outside the prefix (the test run names the folder).
fs::path LinuxMenuEntry() {
  const std::optional<std::wstring> folder = EnvironmentVariable(L"TALVOR_TEST_LINUX_MENU_FOLDER");
  if (!folder) return {};
  std::wstring path = L"Z:" + *folder + L"/Programs/Talvor VPN.desktop";
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

std::optional<fs::file_time_type> ModificationTime(const fs::path& file) {
  std::error_code error;
  const fs::file_time_type time = fs::last_write_time(file, error);
  if (error) return std::nullopt;
  return time;
}

fs::path MsiexecPath() {
  wchar_t system[MAX_PATH] = {};
  GetSystemDirectoryW(system, MAX_PATH);
  return fs::path(system) / L"msiexec.exe";
}

std::wstring ImageOf(DWORD process_id) {
  UniqueKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  wchar_t image[MAX_PATH * 2] = {};
  DWORD size = MAX_PATH * 2;
  if (!process || !QueryFullProcessImageNameW(process.get(), 0, image, &size)) return {};
  return std::wstring(image, size);
}

class InstallerScenario : public testing::Test {
 protected:
  static void SetUpTestSuite() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
  static void TearDownTestSuite() { CoUninitialize(); }

  void SetUp() override {
    ASSERT_TRUE(Entries().empty()) << "an earlier scenario left the program installed";
    ASSERT_TRUE(DeleteRegistryTree(HKEY_CURRENT_USER, kUrlSchemeKey));
  }

  // Nothing stays installed for the next scenario, whatever happened here.
  void TearDown() override {
    for (const std::wstring& entry : Entries()) {
      RunMsiexec({L"/x", entry.substr(entry.rfind(L'\\') + 1), L"/qn"});
    }
    DeleteRegistryTree(HKEY_CURRENT_USER, kUrlSchemeKey);
  }

  // Runs msiexec with `arguments` and a verbose log; its exit code, or
  // nothing when it did not end in time.
  std::optional<DWORD> RunMsiexec(std::vector<std::wstring> arguments) {
    const std::wstring log = logs_.File(L"msiexec-" + std::to_wstring(++runs_) + L".log");
    arguments.insert(arguments.end(), {L"/l*v", log});
    std::optional<ChildProcess> msiexec = ChildProcess::Start(MsiexecPath().wstring(), arguments);
    if (!msiexec) return std::nullopt;
    last_log_ = log;
    return msiexec->WaitForExit(std::chrono::seconds(120));
  }

  // What the last msiexec run wrote to its log, for failure messages.
  std::string LastLog() const { return ReadFileBytes(last_log_).value_or("<no log>"); }

  void InstallSilently(const Package& package) {
    ASSERT_EQ(RunMsiexec({L"/i", PathOf(package), L"/qn"}), 0u) << LastLog();
  }

  void UninstallSilently(const Package& package) {
    ASSERT_EQ(RunMsiexec({L"/x", PathOf(package), L"/qn"}), 0u) << LastLog();
  }

  // The one entry of the program, showing `package`'s version, with the
  // installed talvor_app.exe of that version.
  void ExpectInstalled(const Package& package) {
    const std::vector<std::wstring> entries = Entries();
    ASSERT_EQ(entries.size(), 1u) << "one entry, never a second one beside it";
    EXPECT_EQ(EntryValue(entries.front(), L"DisplayVersion"), package.display_version);
    EXPECT_EQ(FileVersionOf(InstallationFolder() / kProgramFileName), package.file_version);
  }

  // Starts the installed program as its Start menu shortcut does.
  std::optional<ShownProgram> StartFromShortcut(AppConnection& app) {
    const std::vector<fs::path> present = ShortcutsPresent();
    if (present.size() != 1) {
      ADD_FAILURE() << present.size() << " shortcuts";
      return std::nullopt;
    }
    const std::optional<Shortcut> shortcut = ReadShortcut(present.front());
    if (!shortcut || fs::path(shortcut->target).filename() != kProgramFileName) {
      ADD_FAILURE() << "the shortcut does not start " << Utf8(kProgramFileName);
      return std::nullopt;
    }
    return StartShown(app, fs::path(shortcut->target).parent_path(), {}, nullptr, shortcut->working_directory);
  }

  ScratchDirectory logs_{L"msiexec logs"};
  std::wstring last_log_;
  int runs_ = 0;
};

TEST_F(InstallerScenario, SilentInstallPutsTheBundleTheShortcutAndTheEntryInPlace) {
  InstallSilently(kCurrent);

  const fs::path folder = InstallationFolder();
  const std::vector<fs::path> bundle_files = FilesBelow(BundleDirectory());
  ASSERT_FALSE(bundle_files.empty());
  EXPECT_EQ(FilesBelow(folder), bundle_files) << "the whole bundle, nothing more";
  for (const fs::path& file : bundle_files) {
    EXPECT_EQ(ReadFileBytes(folder / file), ReadFileBytes(BundleDirectory() / file)) << file;
  }
  EXPECT_EQ(FileVersionOf(folder / kProgramFileName), L"1.0.0.14");

  const std::vector<fs::path> shortcuts = ShortcutsPresent();
  ASSERT_EQ(shortcuts.size(), 1u);
  const std::optional<Shortcut> shortcut = ReadShortcut(shortcuts.front());
  ASSERT_TRUE(shortcut);
  EXPECT_EQ(fs::path(shortcut->target), folder / kProgramFileName);
  EXPECT_EQ(fs::path(shortcut->working_directory) / L"", folder / L"");
  EXPECT_EQ(shortcut->icon_index, 0);
  EXPECT_EQ(ReadFileBytes(shortcut->icon), ReadFileBytes(BuildPath(TALVOR_TEST_APP_ICON))) << "the program's icon";

  const std::vector<std::wstring> entries = Entries();
  ASSERT_EQ(entries.size(), 1u);
  const std::wstring& entry = entries.front();
  EXPECT_EQ(EntryValue(entry, L"Publisher"), L"Talvor");
  EXPECT_EQ(EntryValue(entry, L"DisplayVersion"), L"1.0.14");
  EXPECT_EQ(fs::path(EntryValue(entry, L"InstallLocation")) / L"", folder / L"");
  EXPECT_EQ(RegistryNumber(ReadRegistryValue(HKEY_LOCAL_MACHINE, entry, L"NoModify")), 1u) << "no Modify button";
  // Programs and Features takes the icon from the product's registration.
  // (Its size: Windows computes it from the package's file sizes, which
  // package_tables_test checks; Wine writes 0.)
  const std::vector<std::wstring> products = ProductKeysUnder(kInstallerProductsKey, L"ProductName");
  ASSERT_EQ(products.size(), 1u);
  const std::wstring product_icon = EntryValue(products.front(), L"ProductIcon");
  EXPECT_EQ(ReadFileBytes(product_icon), ReadFileBytes(BuildPath(TALVOR_TEST_APP_ICON))) << Utf8(product_icon);
}

TEST_F(InstallerScenario, TheInstalledProgramStartsFromTheShortcutAndRegistersItsSchemeThere) {
  InstallSilently(kCurrent);
  AppConnection app;
  std::optional<ShownProgram> program = StartFromShortcut(app);
  ASSERT_TRUE(program);
  EXPECT_EQ(fs::path(ImageOf(program->id())), InstallationFolder() / kProgramFileName);
  ExpectUrlSchemeRegisteredFor((InstallationFolder() / kProgramFileName).wstring());

  PostMessageW(program->window, WM_COMMAND, kTrayExitCommand, 0);
  ExpectCleanEnd(app, *program);
}

TEST_F(InstallerScenario, TunHandOverWorksFromTheInstalledCopy) {
  InstallSilently(kCurrent);
  AppConnection app;
  std::optional<ShownProgram> first = StartFromShortcut(app);
  ASSERT_TRUE(first);
  const TrayIconWatch tray;

  const std::string payload = "{\"mode\": \"tun\", \"server\": \"Хельсинки 2\"}";
  const std::optional<MethodReply> relaunched = app.CallMethod(
      kRuntimeChannel, "relaunchElevatedForTun",
      EncodableValue(EncodableMap{{EncodableValue("payloadJson"), EncodableValue(payload)}}), first->id());
  ASSERT_TRUE(relaunched);
  EXPECT_EQ(relaunched->value, EncodableValue(true)) << standins::DescribeReply(*relaunched);

  const std::optional<DWORD> second_id = app.WaitForNewProcess();
  ASSERT_TRUE(second_id) << app.Describe();
  std::optional<ChildProcess> adopted = ChildProcess::Adopt(*second_id);
  ASSERT_TRUE(adopted);
  ShownProgram second(std::move(*adopted));
  ExpectCleanEnd(app, *first, {second.id()});
  EXPECT_EQ(fs::path(ImageOf(second.id())), InstallationFolder() / kProgramFileName) << "the installed copy again";

  ASSERT_TRUE(app.WaitForEvent(AppEventKind::kFirstFrame, second.id()));
  second.window = FindMainWindow(second.id());
  second.tray_icon = tray.WaitForNewIcon();
  ASSERT_NE(second.window, nullptr);
  const std::optional<MethodReply> consumed =
      app.CallMethod(kRuntimeChannel, "consumePendingTunLaunch", EncodableValue(), second.id());
  ASSERT_TRUE(consumed);
  EXPECT_EQ(consumed->value, EncodableValue(payload)) << standins::DescribeReply(*consumed);

  PostMessageW(second.window, WM_COMMAND, kTrayExitCommand, 0);
  ExpectCleanEnd(app, second);
}

TEST_F(InstallerScenario, ANewerPackageClosesTheRunningOlderCopyAndReplacesIt) {
  InstallSilently(kPrevious);
  ExpectInstalled(kPrevious);
  ASSERT_TRUE(FileExists(InstallationFolder() / kRetiredAsset));
  AppConnection app;
  std::optional<ShownProgram> running = StartFromShortcut(app);
  ASSERT_TRUE(running);

  InstallSilently(kCurrent);

  ExpectCleanEnd(app, *running);  // closed as the tray's exit closes it, before its files went
  ExpectInstalled(kCurrent);
  EXPECT_EQ(FilesBelow(InstallationFolder()), FilesBelow(BundleDirectory()))
      << "nothing of the older version that the newer one dropped";
  EXPECT_EQ(ShortcutsPresent().size(), 1u);
  // The older copy's removal is part of the upgrade: the scheme, which
  // points into the same folder, stays.
  ExpectUrlSchemeRegisteredFor((InstallationFolder() / kProgramFileName).wstring());
}

TEST_F(InstallerScenario, TheSameOrAnOlderPackageIsRefusedWithAMessageAndTheInstalledCopyStays) {
  InstallSilently(kCurrent);
  AppConnection app;
  std::optional<ShownProgram> running = StartFromShortcut(app);
  ASSERT_TRUE(running);
  const std::optional<std::string> program_bytes = ReadFileBytes(InstallationFolder() / kProgramFileName);

  struct Refusal {
    const Package* package;
    const wchar_t* message;
  };
  for (const Refusal& refusal :
       {Refusal{&kPrevious,
                L"The same or a newer version of Talvor VPN is already installed. To install version 1.0.0+13, "
                L"first remove the installed version in Apps & features."},
        Refusal{&kCurrent, L"Talvor VPN 1.0.0+14 is already installed."}}) {
    SCOPED_TRACE(Utf8(PathOf(*refusal.package)));
    EXPECT_EQ(RunMsiexec({L"/i", PathOf(*refusal.package), L"/qn"}), kInstallFailure) << LastLog();

    // With a progress window, the reason is shown.
    std::optional<ChildProcess> shown =
        ChildProcess::Start(MsiexecPath().wstring(), {L"/i", PathOf(*refusal.package), L"/qb"});
    ASSERT_TRUE(shown);
    const std::optional<ShownMessageBox> box = WaitForMessageBox(shown->id());
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text, refusal.message);
    ASSERT_TRUE(AnswerMessageBox(box->window));
    EXPECT_EQ(shown->WaitForExit(), kInstallFailure);

    ExpectInstalled(kCurrent);
    EXPECT_EQ(ReadFileBytes(InstallationFolder() / kProgramFileName), program_bytes);
    EXPECT_FALSE(FileExists(InstallationFolder() / kRetiredAsset));
    EXPECT_TRUE(running->process.Running()) << "the refused package closed the running program";
  }
  PostMessageW(running->window, WM_COMMAND, kTrayExitCommand, 0);
  ExpectCleanEnd(app, *running);
}

TEST_F(InstallerScenario, UninstallClosesTheProgramHiddenInTheTrayAndLeavesNothingBehind) {
  const fs::path menu_entry = LinuxMenuEntry();
  ASSERT_FALSE(menu_entry.empty()) << "the test run names the Linux menu folder";
  const std::optional<fs::file_time_type> menu_entry_before = ModificationTime(menu_entry);
  InstallSilently(kCurrent);
  AppConnection app;
  std::optional<ShownProgram> running = StartFromShortcut(app);
  ASSERT_TRUE(running);
  PostMessageW(running->window, WM_SYSCOMMAND, SC_MINIMIZE, 0);  // the title bar's minimise button
  ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(running->window); })) << "hidden to the tray";
  ExpectUrlSchemeRegisteredFor((InstallationFolder() / kProgramFileName).wstring());
  const std::vector<std::wstring> products = ProductKeysUnder(kInstallerProductsKey, L"ProductName");
  ASSERT_EQ(products.size(), 1u);
  const fs::path product_icon = EntryValue(products.front(), L"ProductIcon");

  UninstallSilently(kCurrent);

  ExpectCleanEnd(app, *running);
  // Everything the scenarios saw installed or written, gone.
  EXPECT_FALSE(fs::exists(InstallationFolder())) << "the installation folder";
  EXPECT_TRUE(ShortcutsPresent().empty()) << "the Start menu shortcut";
  EXPECT_TRUE(Entries().empty()) << "the Programs and Features entry";
  EXPECT_TRUE(ProductKeysUnder(kInstallerProductsKey, L"ProductName").empty()) << "the product's registration";
  EXPECT_FALSE(FileExists(product_icon)) << "the entry's icon";
  EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, kUrlSchemeKey)) << "the URL scheme";
  EXPECT_EQ(ModificationTime(menu_entry), menu_entry_before) << "a menu entry outside the prefix";
  EXPECT_TRUE(ProcessesNamed(kProgramFileName).empty()) << "a process of the program";
}

TEST_F(InstallerScenario, UninstallLeavesTheSchemeOfAnotherCopyAlone) {
  InstallSilently(kCurrent);
  const std::wstring other_copy = L"C:\\Portable\\Talvor VPN\\talvor_app.exe";
  ASSERT_TRUE(StoreUrlSchemeRegistrationFor(other_copy));
  const std::vector<std::wstring> entries = Entries();
  ASSERT_EQ(entries.size(), 1u);

  // As Programs and Features removes it: by the product's code.
  ASSERT_EQ(RunMsiexec({L"/x", entries.front().substr(entries.front().rfind(L'\\') + 1), L"/qn"}), 0u) << LastLog();

  EXPECT_TRUE(Entries().empty());
  ExpectUrlSchemeRegisteredFor(other_copy);
}

}  // namespace
}  // namespace talvor::test
