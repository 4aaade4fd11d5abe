#include "standins/engine/test_link.h"

#include <chrono>
#include <iostream>
#include <utility>

namespace talvor::standins {

namespace tc = talvor::test_connection;

namespace {

// Opens the client end, waiting while every pipe instance is busy.
HANDLE OpenPipe(const std::wstring& name) {
  const ULONGLONG deadline = GetTickCount64() + tc::kConnectTimeoutMs;
  while (true) {
    HANDLE pipe = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) return pipe;
    const DWORD error = GetLastError();
    if (GetTickCount64() >= deadline) return nullptr;
    if (error == ERROR_PIPE_BUSY) {
      WaitNamedPipeW(name.c_str(), 200);
    } else {
      // The server is between two instances, or not listening yet.
      Sleep(20);
    }
  }
}

}  // namespace

std::unique_ptr<TestLink> TestLink::OpenFromEnvironment(Receiver receiver) {
  const std::wstring name = tc::PipeNameFromEnvironment();
  if (name.empty()) return nullptr;
  HANDLE pipe = OpenPipe(name);
  if (pipe == nullptr) {
    std::cerr << "Test connection: cannot open the pipe named by TALVOR_TEST_PIPE." << std::endl;
    return nullptr;
  }
  auto link = std::make_unique<TestLink>(pipe, std::move(receiver));
  if (!link->AwaitWelcome()) {
    std::cerr << "Test connection: no welcome from the test; the built-in application stays on."
              << std::endl;
  }
  return link;
}

TestLink::TestLink(HANDLE pipe, Receiver receiver)
    : endpoint_(pipe), receiver_(std::move(receiver)), stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  endpoint_.Write(tc::FrameWriter(tc::Kind::kHello).U32(GetCurrentProcessId()).Finish());
  reader_ = std::thread([this] { ReadFrames(); });
}

TestLink::~TestLink() {
  // Everything written so far reaches the test before the pipe closes.
  FlushFileBuffers(endpoint_.handle());
  SetEvent(stop_.get());
  if (reader_.joinable()) reader_.join();
}

bool TestLink::AwaitWelcome() {
  std::unique_lock<std::mutex> lock(welcome_mutex_);
  return welcome_arrived_.wait_for(lock, std::chrono::milliseconds(tc::kWelcomeTimeoutMs),
                                   [this] { return welcomed_; });
}

void TestLink::ReadFrames() {
  std::vector<uint8_t> body;
  while (endpoint_.Read(&body, stop_.get())) Dispatch(body);
  // The test went away: nobody waits for a welcome any more.
  std::lock_guard<std::mutex> lock(welcome_mutex_);
  welcomed_ = true;
  welcome_arrived_.notify_all();
}

void TestLink::Dispatch(const std::vector<uint8_t>& body) {
  tc::FrameReader reader(body);
  switch (reader.kind()) {
    case tc::Kind::kWelcome: {
      uint8_t on = 1;
      reader.U8(&on);
      std::lock_guard<std::mutex> lock(welcome_mutex_);
      application_on_ = on != 0;
      welcomed_ = true;
      welcome_arrived_.notify_all();
      break;
    }
    case tc::Kind::kSend: {
      uint32_t request_id = 0;
      std::string channel;
      std::vector<uint8_t> message;
      if (reader.U32(&request_id) && reader.Text(&channel) && reader.Bytes(&message) && receiver_.send) {
        receiver_.send(request_id, std::move(channel), std::move(message));
      }
      break;
    }
    case tc::Kind::kSetApplication: {
      uint8_t on = 0;
      if (reader.U8(&on) && receiver_.set_application) receiver_.set_application(on != 0);
      break;
    }
    default:
      break;
  }
}

void TestLink::EngineCreated(const std::vector<std::string>& arguments) {
  tc::FrameWriter frame(tc::Kind::kEngineCreated);
  frame.U32(static_cast<uint32_t>(arguments.size()));
  for (const std::string& argument : arguments) frame.Text(argument);
  endpoint_.Write(frame.Finish());
}

void TestLink::EngineFailed(const std::string& reason) {
  endpoint_.Write(tc::FrameWriter(tc::Kind::kEngineFailed).Text(reason).Finish());
}

void TestLink::FirstFrame() { endpoint_.Write(tc::FrameWriter(tc::Kind::kFirstFrame).Finish()); }

void TestLink::Outgoing(const std::string& channel, const uint8_t* message, size_t size,
                        bool reply_expected) {
  endpoint_.Write(tc::FrameWriter(tc::Kind::kOutgoing)
                      .Text(channel)
                      .Bytes(message, size)
                      .U8(reply_expected ? 1 : 0)
                      .Finish());
}

void TestLink::Reply(uint32_t request_id, const std::vector<uint8_t>& reply) {
  endpoint_.Write(tc::FrameWriter(tc::Kind::kReply).U32(request_id).Bytes(reply).Finish());
}

void TestLink::StrayResponse() { endpoint_.Write(tc::FrameWriter(tc::Kind::kStrayResponse).Finish()); }

void TestLink::DeepLink(const std::string& link) {
  endpoint_.Write(tc::FrameWriter(tc::Kind::kDeepLink).Text(link).Finish());
}

void TestLink::AppExchange(const std::string& channel, const std::vector<uint8_t>& call,
                           const std::vector<uint8_t>& reply) {
  endpoint_.Write(
      tc::FrameWriter(tc::Kind::kAppExchange).Text(channel).Bytes(call).Bytes(reply).Finish());
}

void TestLink::EngineDestroyed() { endpoint_.Write(tc::FrameWriter(tc::Kind::kEngineDestroyed).Finish()); }

}  // namespace talvor::standins
