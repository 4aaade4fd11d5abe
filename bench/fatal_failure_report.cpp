// In benchmark programs, misuse of the fake engine is a fault of the program
// measured: it ends the run rather than producing figures.
#include <cstdlib>
#include <iostream>

#include "tests/fake_engine/failure_report.h"

namespace talvor::test {

void ReportFakeEngineFailure(const std::string& failure) {
  std::cerr << failure << std::endl;
  std::abort();
}

}  // namespace talvor::test
