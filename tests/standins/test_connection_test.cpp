// The test connection itself: several processes at once, each saying who it
// is, and frames that cannot be read past their end.
#include <gtest/gtest.h>

#include "standins/test_connection.h"
#include "tests/standins/standin_host.h"
#include "tests/support/app_connection.h"
#include "tests/support/child_process.h"

namespace talvor::test {
namespace {

namespace tc = talvor::test_connection;

std::wstring HostPath() { return TestExecutableDirectory() + L"\\standin_host.exe"; }

TEST(TestConnection, AcceptsSeveralProcessesAndTellsThemApart) {
  AppConnection connection;
  std::optional<ChildProcess> first =
      ChildProcess::Start(HostPath(), {L"with space", L"quote\"inside", L"trailing\\", L"\u0422"});
  ASSERT_TRUE(first);
  const std::optional<DWORD> first_id = connection.WaitForNewProcess();
  ASSERT_EQ(first_id, first->id());
  const std::optional<AppEvent> created = connection.WaitForEvent(AppEventKind::kEngineCreated, first->id());
  ASSERT_TRUE(created) << connection.Describe();
  EXPECT_EQ(created->arguments,
            (std::vector<std::string>{"with space", "quote\"inside", "trailing\\", "\xD0\xA2"}));

  std::optional<ChildProcess> second = ChildProcess::Start(HostPath(), {});
  ASSERT_TRUE(second);
  ASSERT_EQ(connection.WaitForNewProcess(), second->id());
  EXPECT_EQ(connection.ConnectedProcesses(), (std::vector<DWORD>{first->id(), second->id()}));

  // Calls go to the process asked for; the hosts have no handler, so both
  // answer empty, but only a connected process answers at all.
  EXPECT_EQ(connection.Send("any", {1}, first->id()), std::vector<uint8_t>());
  second->Terminate();
  ASSERT_TRUE(connection.WaitForDisconnect(second->id()));
  EXPECT_FALSE(connection.Send("any", {1}, second->id()));
  EXPECT_EQ(connection.Send("any", {1}), std::vector<uint8_t>()) << "the latest connected process";
  EXPECT_EQ(connection.ConnectedProcesses(), std::vector<DWORD>{first->id()});
}

TEST(TestConnection, FramesAreReadWithinTheirBounds) {
  std::vector<uint8_t> frame =
      tc::FrameWriter(tc::Kind::kOutgoing).Text("channel").Bytes({1, 2, 3}).U8(1).Finish();
  ASSERT_EQ(frame.size(), 4u + 1 + (4 + 7) + (4 + 3) + 1);
  EXPECT_EQ(frame[0], frame.size() - 4);  // little-endian size of what follows
  const std::vector<uint8_t> body(frame.begin() + 4, frame.end());
  tc::FrameReader reader(body);
  ASSERT_TRUE(reader.valid());
  EXPECT_EQ(reader.kind(), tc::Kind::kOutgoing);
  std::string channel;
  std::vector<uint8_t> bytes;
  uint8_t flag = 0;
  ASSERT_TRUE(reader.Text(&channel) && reader.Bytes(&bytes) && reader.U8(&flag));
  EXPECT_EQ(channel, "channel");
  EXPECT_EQ(bytes, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(flag, 1);
  EXPECT_FALSE(reader.U8(&flag)) << "nothing after the last field";

  // A length that runs past the end is refused and leaves the reader usable.
  const std::vector<uint8_t> lying = {static_cast<uint8_t>(tc::Kind::kDeepLink), 0xFF, 0, 0, 0, 'x'};
  tc::FrameReader bounded(lying);
  std::string link = "unchanged";
  EXPECT_FALSE(bounded.Text(&link));
  EXPECT_EQ(link, "unchanged");
  uint32_t size = 0;
  EXPECT_TRUE(bounded.U32(&size));
  EXPECT_EQ(size, 0xFFu);

  EXPECT_FALSE(tc::FrameReader(std::vector<uint8_t>()).valid());
}

}  // namespace
}  // namespace talvor::test
