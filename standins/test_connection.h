// The test connection of the engine stand-in (flutter_windows.dll): a test
// acts as the application of a running program, sees every message that the
// program sends to the application, and hears what happens to the engine.
//
// Setting up
//   The test creates a named-pipe server and puts the pipe's full name
//   (\\.\pipe\...) into the environment variable TALVOR_TEST_PIPE of the
//   processes it starts. Processes started by those (the elevated relaunch)
//   inherit the variable. Every engine created in a process where the
//   variable is set opens one client connection to that pipe when it is
//   created and closes it after it is destroyed. Without the variable there is
//   no connection and the engine behaves the same otherwise.
//
// Frames
//   Both directions carry a stream of frames:
//
//     u32 size | u8 kind | fields ...
//
//   `size` counts the bytes after it (the kind and the fields), little-endian,
//   1 to kMaxFrameSize. Fields are u8; u32 (little-endian); bytes, which is a
//   u32 length followed by that many bytes. Text is UTF-8 without a
//   terminator. A frame whose fields run past its end, or that is larger than
//   kMaxFrameSize, ends the connection. Unknown kinds are skipped.
//
// Engine to test (for one engine, in this order of first appearance)
//   kHello            u32 process id
//                     The first frame of every connection.
//   kEngineCreated    u32 count, count × bytes
//                     The engine was created; its entrypoint arguments in order.
//   kEngineFailed     bytes reason
//                     Engine creation failed; the connection closes after it.
//   kFirstFrame       -
//                     The view was painted on screen for the first time.
//   kOutgoing         bytes channel, bytes message, u8 reply expected (0 or 1)
//                     The program sent a message to the application.
//   kReply            u32 request id, bytes reply
//                     The program's reply to a kSend; empty when the program
//                     has no handler on that channel. Exactly one per kSend
//                     while the engine lives; none after kEngineDestroyed.
//   kDeepLink         bytes link
//                     The application received a deep link from the app
//                     links plugin.
//   kAppExchange      bytes channel, bytes call, bytes reply
//                     The built-in application made a call to the program and
//                     got this reply (empty: not implemented).
//   kStrayResponse    -
//                     The program answered a message that it had answered
//                     already, or that was never delivered to it.
//   kEngineDestroyed  -
//                     The last frame; the connection closes after it.
//
// Test to engine
//   kWelcome          u8 built-in application on (1) or silent (0)
//                     The answer to kHello. The engine waits for it for up to
//                     kWelcomeTimeoutMs before it goes on with the application
//                     on.
//   kSend             u32 request id, bytes channel, bytes message
//                     A message from the application to the program. It
//                     reaches the program's handler for the channel on the
//                     window thread, as the application's own messages do.
//   kSetApplication   u8 on (1) or silent (0)
//                     Switches the built-in application. A silent application
//                     makes no calls and answers no messages (a message sent
//                     with a reply expected is answered empty); it still draws
//                     and still shows deep links. Switching it on for the first
//                     time starts it as at engine start.
#ifndef TALVOR_STANDINS_TEST_CONNECTION_H_
#define TALVOR_STANDINS_TEST_CONNECTION_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "runner/win32_handles.h"

namespace talvor::test_connection {

// Holds the full pipe name; inherited by child processes.
inline constexpr wchar_t kPipeVariable[] = L"TALVOR_TEST_PIPE";

inline constexpr uint32_t kMaxFrameSize = 16u * 1024u * 1024u;
inline constexpr DWORD kWelcomeTimeoutMs = 10000;
// How long an engine keeps trying to open the pipe while it is busy.
inline constexpr DWORD kConnectTimeoutMs = 10000;

enum class Kind : uint8_t {
  // Engine to test.
  kHello = 1,
  kEngineCreated = 2,
  kEngineFailed = 3,
  kFirstFrame = 4,
  kOutgoing = 5,
  kReply = 6,
  kDeepLink = 7,
  kAppExchange = 8,
  kEngineDestroyed = 9,
  kStrayResponse = 10,
  // Test to engine.
  kWelcome = 64,
  kSend = 65,
  kSetApplication = 66,
};

// Builds one frame, size prefix included.
class FrameWriter {
 public:
  explicit FrameWriter(Kind kind);

  FrameWriter& U8(uint8_t value);
  FrameWriter& U32(uint32_t value);
  FrameWriter& Bytes(const uint8_t* data, size_t size);
  FrameWriter& Bytes(const std::vector<uint8_t>& data) { return Bytes(data.data(), data.size()); }
  FrameWriter& Text(std::string_view text);

  // The finished frame. The writer is spent afterwards.
  std::vector<uint8_t> Finish();

 private:
  std::vector<uint8_t> frame_;
};

// Reads the fields of one frame body (the bytes after the size prefix).
// Every read fails, leaving the output untouched, once a field would run past
// the end.
class FrameReader {
 public:
  explicit FrameReader(const std::vector<uint8_t>& body);

  // The frame's kind; valid when the body is not empty.
  Kind kind() const { return kind_; }
  bool valid() const { return valid_; }

  bool U8(uint8_t* value);
  bool U32(uint32_t* value);
  bool Bytes(std::vector<uint8_t>* value);
  bool Text(std::string* value);

 private:
  bool Take(size_t count, const uint8_t** start);

  const std::vector<uint8_t>& body_;
  size_t position_ = 1;
  Kind kind_ = Kind::kHello;
  bool valid_ = false;
};

// One end of a connection over a pipe handle opened for overlapped I/O. One
// thread reads; any thread may write.
class PipeEndpoint {
 public:
  // Takes ownership of `pipe`.
  explicit PipeEndpoint(HANDLE pipe);
  ~PipeEndpoint();
  PipeEndpoint(const PipeEndpoint&) = delete;
  PipeEndpoint& operator=(const PipeEndpoint&) = delete;

  // Writes one frame made by FrameWriter; false when the pipe is broken.
  bool Write(const std::vector<uint8_t>& frame);

  // Waits for the next frame and returns its body. False at the end of the
  // stream, on a malformed frame, or once `stop` (an event) is signalled.
  bool Read(std::vector<uint8_t>* body, HANDLE stop);

  HANDLE handle() const { return pipe_.get(); }

 private:
  bool ReadExactly(uint8_t* data, size_t size, HANDLE stop);

  UniqueKernelHandle pipe_;
  UniqueKernelHandle read_event_;
  UniqueKernelHandle write_event_;
  std::mutex write_mutex_;
};

// The value of kPipeVariable in this process, empty when it is not set.
std::wstring PipeNameFromEnvironment();

}  // namespace talvor::test_connection

#endif  // TALVOR_STANDINS_TEST_CONNECTION_H_
