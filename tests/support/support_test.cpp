#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>

#include "tests/support/stderr_capture.h"
#include "tests/support/wait.h"

namespace talvor::test {
namespace {

TEST(StderrCapture, SeesStreamAndStdioLinesInOrder) {
  StderrCapture capture;
  std::cerr << "first line" << std::endl;
  std::fputs("second line\n", stderr);
  EXPECT_EQ(capture.Lines(), (std::vector<std::string>{"first line", "second line"}));
}

TEST(StderrCapture, EmptyWhenNothingWritten) {
  StderrCapture capture;
  EXPECT_TRUE(capture.Lines().empty());
}

TEST(WaitUntil, ReportsTimeoutAndSuccess) {
  int calls = 0;
  EXPECT_TRUE(WaitUntil([&] { return ++calls == 3; }, std::chrono::seconds(5)));
  EXPECT_FALSE(WaitUntil([] { return false; }, std::chrono::milliseconds(30)));
}

}  // namespace
}  // namespace talvor::test
