// The URL scheme as a start leaves it: untouched, and the shell untold, when
// it already points at this copy of the program; taken over, and the shell
// told, when it points elsewhere.
//
// The shell's notification is seen through what Wine makes of it: the
// notifying process starts Wine's menu builder (winemenubuilder.exe), which
// joins the job the program runs in. (Registry watches cannot tell a
// rewrite of the same values from none: the registry skips a write that
// changes nothing.)
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "runner/win32_handles.h"
#include "tests/scenarios/scenario.h"

namespace talvor::test {
namespace {

// A job object for the program: it counts every process that ever ran in
// it, the program's own and those it started; what still runs at the end is
// ended by its id.
class ProgramJob {
 public:
  ProgramJob() : job_(CreateJobObjectW(nullptr, nullptr)) {}
  ~ProgramJob() {
    WaitUntil([this] { return Accounting().ActiveProcesses == 0; });
    for (const DWORD id : RunningProcessIds()) EndProcessById(id, std::chrono::milliseconds(0));
  }

  HANDLE handle() const { return job_.get(); }
  DWORD TotalProcesses() const { return Accounting().TotalProcesses; }

 private:
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION Accounting() const {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION information{};
    QueryInformationJobObject(job_.get(), JobObjectBasicAccountingInformation, &information,
                              sizeof information, nullptr);
    return information;
  }

  std::vector<DWORD> RunningProcessIds() const {
    struct {
      JOBOBJECT_BASIC_PROCESS_ID_LIST list;
      ULONG_PTR more[63];
    } ids{};
    ids.list.NumberOfAssignedProcesses = 64;
    if (!QueryInformationJobObject(job_.get(), JobObjectBasicProcessIdList, &ids, sizeof ids, nullptr)) return {};
    std::vector<DWORD> running;
    for (DWORD index = 0; index < ids.list.NumberOfProcessIdsInList; ++index) {
      running.push_back(static_cast<DWORD>(ids.list.ProcessIdList[index]));
    }
    return running;
  }

  UniqueKernelHandle job_;
};

// Signalled once any value or key under HKEY_CURRENT_USER\`key` changes.
class RegistryChangeWatch {
 public:
  explicit RegistryChangeWatch(const wchar_t* key) : changed_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    active_ = changed_ &&
              RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_NOTIFY, key_.put()) == ERROR_SUCCESS &&
              RegNotifyChangeKeyValue(key_.get(), TRUE, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET,
                                      changed_.get(), TRUE) == ERROR_SUCCESS;
  }

  bool active() const { return active_; }
  bool Changed() const { return WaitForSingleObject(changed_.get(), 0) == WAIT_OBJECT_0; }

 private:
  UniqueKernelHandle changed_;
  UniqueRegistryKey key_;
  bool active_ = false;
};

class UrlSchemeScenario : public InstallationCopyTest {
 protected:
  std::wstring Program() const { return (Installation() / kProgramFileName).wstring(); }

  // Starts the program in `job_`, waits for its first frame and closes it.
  void StartAndClose() {
    AppConnection app;
    std::optional<ShownProgram> program = StartShown(app, Installation(), {}, job_.handle());
    ASSERT_TRUE(program);
    PostMessageW(program->window, WM_CLOSE, 0, 0);
    ExpectCleanEnd(app, *program);
  }

  ProgramJob job_;
};

TEST_F(UrlSchemeScenario, AStartWithTheSchemeInPlaceWritesNothingAndTellsTheShellNothing) {
  ASSERT_TRUE(StoreUrlSchemeRegistrationFor(Program()));
  const RegistryChangeWatch registry(kUrlSchemeKey);
  ASSERT_TRUE(registry.active());

  StartAndClose();
  if (HasFatalFailure()) return;

  EXPECT_FALSE(registry.Changed());
  EXPECT_EQ(job_.TotalProcesses(), 1u) << "the program told the shell of a change";
  ExpectUrlSchemeRegisteredFor(Program());
}

TEST_F(UrlSchemeScenario, AStartFromAMovedCopyTakesTheSchemeOverAndTellsTheShell) {
  ASSERT_TRUE(StoreUrlSchemeRegistrationFor(L"C:\\Old Place\\talvor_app.exe"));
  const RegistryChangeWatch registry(kUrlSchemeKey);
  ASSERT_TRUE(registry.active());

  StartAndClose();
  if (HasFatalFailure()) return;

  ExpectUrlSchemeRegisteredFor(Program());
  EXPECT_TRUE(registry.Changed());
  EXPECT_GE(job_.TotalProcesses(), 2u) << "the shell was not told";
}

}  // namespace
}  // namespace talvor::test
