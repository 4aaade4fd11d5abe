#ifndef TALVOR_TESTS_FAKE_ENGINE_FAILURE_REPORT_H_
#define TALVOR_TESTS_FAKE_ENGINE_FAILURE_REPORT_H_

#include <string>

namespace talvor::test {

// How the fake engine reports misuse: a failure of the running test in test
// programs (gtest_failure_report.cpp), a fatal error in benchmark programs.
void ReportFakeEngineFailure(const std::string& failure);

}  // namespace talvor::test

#endif  // TALVOR_TESTS_FAKE_ENGINE_FAILURE_REPORT_H_
