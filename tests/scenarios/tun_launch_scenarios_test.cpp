// The TUN launch hand-over: the relaunch of the program that hands a payload
// file to a second process, from a copy installed under Program Files (and
// from none other), and a start with the pending-launch argument.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "codec/encodable_value.h"
#include "tests/scenarios/scenario.h"
#include "tests/support/bundle_copy.h"
#include "tests/support/system_state.h"

namespace talvor::test {
namespace {

namespace fs = std::filesystem;
using flutter::EncodableMap;
using flutter::EncodableValue;
using standins::MethodReply;

constexpr wchar_t kPendingLaunchArgument[] = L"--talvor-pending-tun-launch=";
// JSON with blanks and text beyond ASCII; the program never parses it.
const std::string kPayload =
    "{\"mode\": \"tun\", \"server\": \"Хельсинки 2\", \"note\": \"пробелы и «кавычки» \\u2713\"}";

fs::path Bundle() { return BundleDirectory().lexically_normal(); }


std::vector<fs::path> PendingLaunchFiles() { return TemporaryFiles(L"tlp", L".tmp"); }

std::vector<fs::path> Added(const std::vector<fs::path>& before, const std::vector<fs::path>& after) {
  std::vector<fs::path> added;
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
  return added;
}

std::optional<MethodReply> CallRuntime(AppConnection& app, const std::string& method, DWORD process_id,
                                       const EncodableValue& arguments = EncodableValue()) {
  return app.CallMethod(kRuntimeChannel, method, arguments, process_id);
}

void ExpectSuccess(const std::optional<MethodReply>& reply, const EncodableValue& value) {
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->kind, MethodReply::Kind::kSuccess) << standins::DescribeReply(*reply);
  EXPECT_EQ(reply->value, value) << standins::DescribeReply(*reply);
}

// A pending-launch file as the relaunch makes them: named by the system, in
// the temporary directory.
fs::path MakePendingLaunchFile(const std::string& payload) {
  wchar_t path[MAX_PATH] = {};
  if (GetTempFileNameW(TemporaryDirectory().c_str(), L"tlp", 0, path) == 0) return {};
  return WriteFileBytes(path, payload) ? fs::path(path) : fs::path();
}

// Points this process's temporary directory (and so the program's, which
// inherits the environment) at a fresh folder whose path has blanks and
// letters beyond ASCII, as user names often give it.
class TemporaryDirectoryWithBlanks {
 public:
  const fs::path& path() const { return path_; }

 private:
  ScratchDirectory folder_{L"Temp с пробелами"};
  fs::path path_{folder_.path()};
  ScopedEnvironmentVariable tmp_{L"TMP", folder_.path() + L"\\"};
  ScopedEnvironmentVariable temp_{L"TEMP", folder_.path() + L"\\"};
};

TEST(TunLaunchScenario, RelaunchHandsThePayloadToASecondProcessOnce) {
  const TemporaryDirectoryWithBlanks temporary_directory;
  ASSERT_EQ(TemporaryDirectory(), temporary_directory.path() / L"");
  const std::optional<BundleCopy> installed = InstalledCopy();
  ASSERT_TRUE(installed);
  AppConnection app;
  std::optional<ShownProgram> first = StartShown(app, installed->path());
  ASSERT_TRUE(first);
  const std::vector<fs::path> files_before = PendingLaunchFiles();
  const TrayIconWatch tray;

  const EncodableValue arguments(EncodableMap{{EncodableValue("payloadJson"), EncodableValue(kPayload)}});
  ExpectSuccess(CallRuntime(app, "relaunchElevatedForTun", first->id(), arguments), EncodableValue(true));

  // The second process: started by the first, connected, taken in charge.
  const std::optional<DWORD> second_id = app.WaitForNewProcess();
  ASSERT_TRUE(second_id) << app.Describe();
  ASSERT_NE(*second_id, first->id());
  std::optional<ChildProcess> adopted = ChildProcess::Adopt(*second_id);
  ASSERT_TRUE(adopted);
  ShownProgram second(std::move(*adopted));

  // The first closes its window and ends.
  ExpectCleanEnd(app, *first, {second.id()});

  const std::vector<fs::path> written = Added(files_before, PendingLaunchFiles());
  ASSERT_EQ(written.size(), 1u);
  EXPECT_EQ(written.front().parent_path(), temporary_directory.path());
  EXPECT_EQ(ReadFileBytes(written.front()), kPayload);

  const std::optional<AppEvent> created = app.WaitForEvent(AppEventKind::kEngineCreated, second.id());
  ASSERT_TRUE(created);
  EXPECT_TRUE(created->arguments.empty()) << Describe(created->arguments);
  ASSERT_TRUE(app.WaitForEvent(AppEventKind::kFirstFrame, second.id()));
  second.window = FindMainWindow(second.id());
  second.tray_icon = tray.WaitForNewIcon();
  ASSERT_NE(second.window, nullptr);
  ASSERT_NE(second.tray_icon, nullptr);

  ExpectSuccess(CallRuntime(app, "hasPendingTunLaunch", second.id()), EncodableValue(true));
  ExpectSuccess(CallRuntime(app, "consumePendingTunLaunch", second.id()), EncodableValue(kPayload));
  EXPECT_FALSE(fs::exists(written.front()));
  ExpectSuccess(CallRuntime(app, "consumePendingTunLaunch", second.id()), EncodableValue());
  ExpectSuccess(CallRuntime(app, "hasPendingTunLaunch", second.id()), EncodableValue(false));

  PostMessageW(second.window, WM_COMMAND, kTrayExitCommand, 0);
  ExpectCleanEnd(app, second);
}

// A copy that standard users can change (here one in the temporary folder)
// is never started with administrator rights: the relaunch is refused with
// a reason the user can act on, and nothing is written or started.
TEST(TunLaunchScenario, FromACopyInAUserFolderTheRelaunchIsRefusedAndTheWindowStays) {
  std::optional<BundleCopy> copy = BundleCopy::Make(Bundle());
  ASSERT_TRUE(copy);
  AppConnection app;
  std::optional<ShownProgram> program = StartShown(app, copy->path());
  ASSERT_TRUE(program);
  const std::vector<fs::path> files_before = PendingLaunchFiles();

  const EncodableValue arguments(EncodableMap{{EncodableValue("payloadJson"), EncodableValue(kPayload)}});
  const std::optional<MethodReply> reply = CallRuntime(app, "relaunchElevatedForTun", program->id(), arguments);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->kind, MethodReply::Kind::kError) << standins::DescribeReply(*reply);
  EXPECT_EQ(reply->error_code, "elevation_failed");
  EXPECT_EQ(reply->error_message,
            "Для режима TUN Talvor VPN должен быть установлен для всех пользователей. "
            "Установите программу установщиком и запустите её из меню «Пуск».");
  EXPECT_FALSE(app.WaitForNewProcess(std::chrono::seconds(1))) << "a second process started";
  EXPECT_EQ(PendingLaunchFiles(), files_before) << "a launch file was written";
  EXPECT_TRUE(IsWindowVisible(program->window)) << "the window stays";

  PostMessageW(program->window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, *program);
}

// A pending-launch argument counts only alone, in an instance with
// administrator rights. Beside anything else it was smuggled in (a link that
// broke out of its quotes); an instance without those rights was not started
// by the relaunch. It is taken off the arguments and its file is never
// offered, read or deleted. (Wine reports every process elevated but one
// started with the limited token linked to this process's.)
TEST(TunLaunchScenario, APendingArgumentBesideALinkOrWithoutAdministratorRightsIsNotOffered) {
  RunningInstanceWindow running;  // a hand-off would go here
  ShowWindow(running.get(), SW_SHOWMINIMIZED);
  const fs::path file = MakePendingLaunchFile(kPayload);
  ASSERT_FALSE(file.empty());
  const std::optional<BundleCopy> installed = InstalledCopy();
  ASSERT_TRUE(installed);

  AppConnection app;
  std::optional<ShownProgram> program =
      StartShown(app, installed->path(), {kPendingLaunchArgument + file.wstring(), L"talvor://x"});
  ASSERT_TRUE(program);
  EXPECT_EQ(program->entrypoint_arguments, std::vector<std::string>{"talvor://x"})
      << Describe(program->entrypoint_arguments);
  EXPECT_TRUE(running.links().empty());

  ExpectSuccess(CallRuntime(app, "hasPendingTunLaunch", program->id()), EncodableValue(false));
  ExpectSuccess(CallRuntime(app, "consumePendingTunLaunch", program->id()), EncodableValue());
  PostMessageW(program->window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, *program);

  const UniqueKernelHandle limited = LimitedToken();
  ASSERT_TRUE(limited);
  ChildProcess::StartOptions without_rights;
  without_rights.token = limited.get();
  program = StartShown(app, installed->path(), {kPendingLaunchArgument + file.wstring()}, without_rights);
  ASSERT_TRUE(program);
  ExpectSuccess(CallRuntime(app, "isProcessElevated", program->id()), EncodableValue(false));
  EXPECT_TRUE(program->entrypoint_arguments.empty()) << Describe(program->entrypoint_arguments);
  ExpectSuccess(CallRuntime(app, "hasPendingTunLaunch", program->id()), EncodableValue(false));
  ExpectSuccess(CallRuntime(app, "consumePendingTunLaunch", program->id()), EncodableValue());
  PostMessageW(program->window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, *program);

  EXPECT_EQ(ReadFileBytes(file), kPayload) << "neither read nor deleted, at the end either";
  std::error_code ignored;
  fs::remove(file, ignored);
}

// A path that a link could smuggle onto the command line: a file the user
// can reach that is not named like a launch file. (Launch files are taken
// from any folder: elevated_path_scenarios_test.cpp.)
TEST(TunLaunchScenario, AFileNamedOtherwiseIsNeverReadNorDeleted) {
  const fs::path path = TemporaryDirectory() / ("talvor-launch-" + std::to_string(GetCurrentProcessId()) + ".json");
  ASSERT_TRUE(WriteFileBytes(path, "a file of the user's"));
  const std::optional<BundleCopy> installed = InstalledCopy();
  ASSERT_TRUE(installed);
  AppConnection app;
  std::optional<ShownProgram> program = StartShown(app, installed->path(), {kPendingLaunchArgument + path.wstring()});
  ASSERT_TRUE(program);
  EXPECT_TRUE(program->entrypoint_arguments.empty()) << Describe(program->entrypoint_arguments);

  ExpectSuccess(CallRuntime(app, "hasPendingTunLaunch", program->id()), EncodableValue(false));
  ExpectSuccess(CallRuntime(app, "consumePendingTunLaunch", program->id()), EncodableValue());
  PostMessageW(program->window, WM_CLOSE, 0, 0);
  ExpectCleanEnd(app, *program);
  EXPECT_EQ(ReadFileBytes(path), "a file of the user's") << "neither read nor deleted, at the end either";
  std::error_code ignored;
  fs::remove(path, ignored);
}

}  // namespace
}  // namespace talvor::test
