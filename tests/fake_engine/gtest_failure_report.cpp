#include <gtest/gtest.h>

#include "tests/fake_engine/failure_report.h"

namespace talvor::test {

void ReportFakeEngineFailure(const std::string& failure) { ADD_FAILURE() << failure; }

}  // namespace talvor::test
