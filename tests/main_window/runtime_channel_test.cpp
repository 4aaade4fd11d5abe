// The runtime channel: elevation state, the handed-over TUN launch, window
// activation and the elevated relaunch.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "runner/elevation/pending_tun_launch.h"
#include "runner/elevation/windows_error.h"
#include "runner/utils.h"
#include "runner/win32_handles.h"
#include "tests/main_window/main_window_fixture.h"
#include "tests/support/system_state.h"
#include "tests/support/stderr_capture.h"
#include "tests/support/wait.h"

namespace talvor::test {
namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string kPayload = "{\"server\": \"Франкфурт 2\", \"mode\": \"tun\"}";

std::unique_ptr<EncodableValue> Value(EncodableValue value) {
  return std::make_unique<EncodableValue>(std::move(value));
}

std::string ErrorReply(const std::string& code, const std::string& message) {
  return "error " + code + " '" + message + "' null";
}

std::string SystemText(DWORD code) { return NarrowUtf8(FormatWindowsError(code)); }

TEST_F(MainWindowTest, RuntimeQueriesAnswerTheirValues) {
  const std::wstring launch_file = WritePendingTunLaunchFile(kPayload, nullptr);
  ASSERT_FALSE(launch_file.empty());
  process_elevated_ = true;
  ASSERT_TRUE(OpenWindow(launch_file));
  ASSERT_TRUE(engine_.RenderFrame());
  StderrCapture diagnostics;

  EXPECT_EQ(Call(kRuntimeChannel, "isProcessElevated"), "success true");
  EXPECT_EQ(Call(kRuntimeChannel, "hasPendingTunLaunch", Value(5)), "success true");
  EXPECT_EQ(Call(kRuntimeChannel, "consumePendingTunLaunch"), "success '" + kPayload + "'");
  EXPECT_FALSE(FileExists(launch_file));
  EXPECT_EQ(Call(kRuntimeChannel, "consumePendingTunLaunch"), "success null");
  EXPECT_EQ(Call(kRuntimeChannel, "hasPendingTunLaunch"), "success false");

  ShowWindow(Handle(), SW_MINIMIZE);
  ASSERT_TRUE(window_->IsHiddenToTray());
  EXPECT_EQ(Call(kRuntimeChannel, "activateMainWindow"), "success null");
  EXPECT_TRUE(IsWindowVisible(Handle()));
  EXPECT_FALSE(window_->IsHiddenToTray());

  EXPECT_EQ(Call(kRuntimeChannel, "IsProcessElevated"), "not implemented");
  EXPECT_EQ(Call(kRuntimeChannel, "relaunchElevatedForTUN"), "not implemented");

  const std::wstring empty_launch_file = WritePendingTunLaunchFile("", nullptr);
  process_elevated_ = false;
  ASSERT_TRUE(OpenWindow(empty_launch_file));
  EXPECT_EQ(Call(kRuntimeChannel, "isProcessElevated"), "success false");
  EXPECT_EQ(Call(kRuntimeChannel, "consumePendingTunLaunch"), "success null") << "nothing to give";
  EXPECT_THAT(diagnostics.Lines(), IsEmpty());
}

// The instance ends without its user interface having asked for the launch:
// the payload does not stay behind.
TEST_F(MainWindowTest, ALaunchNeverAskedForIsDeletedWhenTheWindowGoes) {
  const std::wstring launch_file = WritePendingTunLaunchFile(kPayload, nullptr);
  ASSERT_FALSE(launch_file.empty());
  ASSERT_TRUE(OpenWindow(launch_file));
  EXPECT_EQ(Call(kRuntimeChannel, "hasPendingTunLaunch"), "success true");
  window_.reset();
  EXPECT_FALSE(FileExists(launch_file));
}

// Each test gets a temporary directory of its own, so that every launch file
// a relaunch leaves behind can be seen.
class RelaunchTest : public MainWindowTest {
 protected:
  RelaunchTest() {
    launch_calls_.gather_installation_facts = [this] { return installation_; };
    launch_calls_.shell_execute = [this](SHELLEXECUTEINFOW* info) {
      ++shell_calls_;
      const std::wstring parameters = info->lpParameters;
      launch_file_ = parameters.substr(28 + 1, parameters.size() - 28 - 2);
      launch_file_bytes_ = ReadFileBytes(launch_file_);
      if (shell_error_ == kStarted) return true;
      SetLastError(shell_error_);
      return false;
    };
  }

  size_t LaunchFileCount() const {
    std::error_code error;
    const std::filesystem::directory_iterator entries(temporary_.path(), error);
    return static_cast<size_t>(std::distance(begin(entries), end(entries)));
  }

  static constexpr DWORD kStarted = 0xFFFFFFFF;

  ScratchDirectory temporary_{L"relaunch temp"};
  ScopedEnvironmentVariable tmp_{L"TMP", temporary_.path() + L"\\"};
  ScopedEnvironmentVariable temp_{L"TEMP", temporary_.path() + L"\\"};
  InstallationFacts installation_{L"C:\\Program Files\\Talvor VPN\\talvor_app.exe",
                                  ERROR_SUCCESS, L"C:\\Program Files", true, true};
  DWORD shell_error_ = kStarted;
  int shell_calls_ = 0;
  std::wstring launch_file_;
  std::optional<std::string> launch_file_bytes_;
};

TEST_F(RelaunchTest, ArgumentsWithoutAPayloadAreRefusedBeforeAnythingStarts) {
  ASSERT_TRUE(OpenWindow());
  const std::string expected_map =
      ErrorReply("invalid_arguments", "Ожидались параметры elevated-запуска.");
  const std::string missing =
      ErrorReply("invalid_arguments", "Не передан payload elevated-запуска.");
  const std::string empty = ErrorReply("invalid_arguments", "Payload elevated-запуска пуст.");

  EXPECT_EQ(Call(kRuntimeChannel, "relaunchElevatedForTun"), expected_map);
  EXPECT_EQ(Call(kRuntimeChannel, "relaunchElevatedForTun",
                 Value(EncodableList{EncodableValue("payloadJson"), EncodableValue(kPayload)})),
            expected_map);
  EXPECT_EQ(Call(kRuntimeChannel, "relaunchElevatedForTun", Value(EncodableMap{})), missing);
  EXPECT_EQ(Call(kRuntimeChannel, "relaunchElevatedForTun",
                 Value(EncodableMap{{"payloadjson", kPayload}})),
            missing);
  EXPECT_EQ(
      Call(kRuntimeChannel, "relaunchElevatedForTun", Value(EncodableMap{{"payloadJson", ""}})),
      empty);
  EXPECT_EQ(
      Call(kRuntimeChannel, "relaunchElevatedForTun", Value(EncodableMap{{"payloadJson", 5}})),
      empty);
  EXPECT_EQ(shell_calls_, 0);
  EXPECT_EQ(LaunchFileCount(), 0u);
}

TEST_F(RelaunchTest, FailuresAreReportedWithTheirReasonAndWithdrawTheLaunchFile) {
  ASSERT_TRUE(OpenWindow());
  const auto relaunch = [this] {
    return Call(kRuntimeChannel, "relaunchElevatedForTun",
                Value(EncodableMap{{"payloadJson", kPayload}}));
  };
  struct Case {
    DWORD shell_error;
    std::string reply;
  };
  const Case cases[] = {
      {ERROR_CANCELLED, ErrorReply("elevation_cancelled", SystemText(ERROR_CANCELLED))},
      {ERROR_ACCESS_DENIED, ErrorReply("elevation_failed", SystemText(ERROR_ACCESS_DENIED))},
      {ERROR_SUCCESS, ErrorReply("elevation_failed",
                                 "Не удалось перезапустить приложение с правами администратора.")},
  };
  for (const Case& failure : cases) {
    SCOPED_TRACE(failure.shell_error);
    shell_error_ = failure.shell_error;
    EXPECT_EQ(relaunch(), failure.reply);
    EXPECT_EQ(launch_file_bytes_, kPayload) << "the file existed while the shell ran";
    EXPECT_EQ(LaunchFileCount(), 0u);
  }

  installation_ = InstallationFacts{L"", ERROR_INSUFFICIENT_BUFFER, L"C:\\Program Files", false, false};
  EXPECT_EQ(relaunch(), ErrorReply("elevation_failed", SystemText(ERROR_INSUFFICIENT_BUFFER)));
  installation_ = InstallationFacts{L"C:\\Users\\u\\Downloads\\Talvor VPN\\talvor_app.exe",
                                    ERROR_SUCCESS, L"C:\\Program Files", true, true};
  EXPECT_EQ(relaunch(),
            ErrorReply("elevation_failed",
                       "Для режима TUN Talvor VPN должен быть установлен для всех пользователей. "
                       "Установите программу установщиком и запустите её из меню «Пуск»."));
  EXPECT_EQ(shell_calls_, 3) << "only a protected installation is started";
  EXPECT_EQ(LaunchFileCount(), 0u);

  MSG message;
  EXPECT_FALSE(PeekMessageW(&message, Handle(), WM_CLOSE, WM_CLOSE, PM_NOREMOVE))
      << "the window stays open";
}

TEST_F(RelaunchTest, ASuccessAnswersTrueAndThenTheWindowCloses) {
  ASSERT_TRUE(OpenWindow());
  ASSERT_TRUE(engine_.RenderFrame());
  const HWND handle = Handle();

  EXPECT_EQ(Call(kRuntimeChannel, "relaunchElevatedForTun",
                 Value(EncodableMap{{"payloadJson", kPayload}})),
            "success true");
  EXPECT_TRUE(IsWindow(handle)) << "answered before the window closes";
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(handle); }));
  EXPECT_THAT(TrayRequests(), ElementsAre("NIM_ADD Talvor VPN", "NIM_SETVERSION 4", "NIM_DELETE"));
  EXPECT_FALSE(engine_.engine_alive());
  EXPECT_EQ(ReadFileBytes(launch_file_), kPayload) << "the file belongs to the new instance";
}

}  // namespace
}  // namespace talvor::test
