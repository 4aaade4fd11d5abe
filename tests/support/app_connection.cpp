#include "tests/support/app_connection.h"

#include <atomic>
#include <sstream>
#include <utility>

#include "standins/test_connection.h"

namespace talvor::test {

namespace tc = talvor::test_connection;

namespace {

constexpr DWORD kPipeBufferSize = 64 * 1024;

std::wstring UniquePipeName() {
  static std::atomic<unsigned> counter{0};
  return L"\\\\.\\pipe\\talvor-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(++counter) + L"-" + std::to_wstring(GetTickCount64());
}

HANDLE CreatePipeInstance(const std::wstring& name, bool first) {
  const DWORD open_mode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
  HANDLE pipe = CreateNamedPipeW(name.c_str(), open_mode, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                                 PIPE_UNLIMITED_INSTANCES, kPipeBufferSize, kPipeBufferSize, 0, nullptr);
  return pipe == INVALID_HANDLE_VALUE ? nullptr : pipe;
}

std::string Printable(const std::vector<uint8_t>& bytes) {
  std::ostringstream out;
  out << bytes.size() << " bytes";
  return out.str();
}

}  // namespace

struct AppConnection::Peer {
  std::unique_ptr<tc::PipeEndpoint> endpoint;
  std::thread reader;
  DWORD process_id = 0;
  bool connected = true;
};

const char* ToString(AppEventKind kind) {
  switch (kind) {
    case AppEventKind::kEngineCreated:
      return "engine created";
    case AppEventKind::kEngineFailed:
      return "engine failed";
    case AppEventKind::kFirstFrame:
      return "first frame";
    case AppEventKind::kOutgoing:
      return "outgoing";
    case AppEventKind::kDeepLink:
      return "deep link";
    case AppEventKind::kAppExchange:
      return "application call";
    case AppEventKind::kStrayResponse:
      return "stray response";
    case AppEventKind::kEngineDestroyed:
      return "engine destroyed";
    case AppEventKind::kDisconnected:
      return "disconnected";
  }
  return "?";
}

AppConnection::AppConnection() : AppConnection(Options()) {}

AppConnection::AppConnection(Options options)
    : options_(options),
      pipe_name_(UniquePipeName()),
      stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  // The first instance exists before the constructor returns, so that a
  // process started right afterwards finds the pipe.
  HANDLE first = CreatePipeInstance(pipe_name_, true);
  pipe_variable_.emplace(tc::kPipeVariable, pipe_name_);
  acceptor_ = std::thread([this, first] { AcceptLoop(first); });
}

AppConnection::~AppConnection() {
  SetEvent(stop_.get());
  if (acceptor_.joinable()) acceptor_.join();
  std::vector<Peer*> peers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& peer : peers_) peers.push_back(peer.get());
  }
  for (Peer* peer : peers) {
    if (peer->reader.joinable()) peer->reader.join();
  }
  pipe_variable_.reset();
}

void AppConnection::AcceptLoop(HANDLE first_instance) {
  UniqueKernelHandle connected_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  HANDLE instance = first_instance;
  while (instance != nullptr) {
    UniqueKernelHandle pipe(instance);
    OVERLAPPED overlapped{};
    overlapped.hEvent = connected_event.get();
    bool connected = ConnectNamedPipe(pipe.get(), &overlapped) != FALSE;
    const DWORD error = GetLastError();
    if (!connected && error == ERROR_PIPE_CONNECTED) connected = true;
    if (!connected && error == ERROR_IO_PENDING) {
      const HANDLE waits[2] = {connected_event.get(), stop_.get()};
      if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        CancelIoEx(pipe.get(), &overlapped);
        DWORD ignored = 0;
        GetOverlappedResult(pipe.get(), &overlapped, &ignored, TRUE);
        return;
      }
      DWORD ignored = 0;
      connected = GetOverlappedResult(pipe.get(), &overlapped, &ignored, FALSE) != FALSE;
    }
    if (WaitForSingleObject(stop_.get(), 0) == WAIT_OBJECT_0) return;
    if (connected) AddPeer(pipe.release());
    instance = CreatePipeInstance(pipe_name_, false);
  }
}

void AppConnection::AddPeer(HANDLE pipe) {
  auto peer = std::make_unique<Peer>();
  peer->endpoint = std::make_unique<tc::PipeEndpoint>(pipe);
  Peer* raw = peer.get();
  std::lock_guard<std::mutex> lock(mutex_);
  peers_.push_back(std::move(peer));
  raw->reader = std::thread([this, raw] { ReadPeer(raw); });
}

void AppConnection::ReadPeer(Peer* peer) {
  std::vector<uint8_t> body;
  while (peer->endpoint->Read(&body, stop_.get())) Record(peer, body);
  std::lock_guard<std::mutex> lock(mutex_);
  peer->connected = false;
  if (peer->process_id != 0) {
    AppEvent event;
    event.process_id = peer->process_id;
    event.kind = AppEventKind::kDisconnected;
    events_.push_back(Entry{std::move(event)});
  }
}

void AppConnection::Record(Peer* peer, const std::vector<uint8_t>& body) {
  tc::FrameReader reader(body);
  AppEvent event;
  event.process_id = peer->process_id;
  switch (reader.kind()) {
    case tc::Kind::kHello: {
      uint32_t process_id = 0;
      if (!reader.U32(&process_id)) return;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        peer->process_id = process_id;
        hello_order_.push_back(process_id);
      }
      if (!options_.hold_welcome) WriteWelcome(peer);
      return;
    }
    case tc::Kind::kEngineCreated: {
      uint32_t count = 0;
      if (!reader.U32(&count)) return;
      for (uint32_t index = 0; index < count; ++index) {
        std::string argument;
        if (!reader.Text(&argument)) return;
        event.arguments.push_back(std::move(argument));
      }
      event.kind = AppEventKind::kEngineCreated;
      break;
    }
    case tc::Kind::kEngineFailed:
      if (!reader.Text(&event.text)) return;
      event.kind = AppEventKind::kEngineFailed;
      break;
    case tc::Kind::kFirstFrame:
      event.kind = AppEventKind::kFirstFrame;
      break;
    case tc::Kind::kOutgoing: {
      uint8_t reply_expected = 0;
      if (!reader.Text(&event.channel) || !reader.Bytes(&event.message) || !reader.U8(&reply_expected)) return;
      event.reply_expected = reply_expected != 0;
      event.kind = AppEventKind::kOutgoing;
      break;
    }
    case tc::Kind::kReply: {
      uint32_t request_id = 0;
      std::vector<uint8_t> reply;
      if (!reader.U32(&request_id) || !reader.Bytes(&reply)) return;
      std::lock_guard<std::mutex> lock(mutex_);
      const auto found = replies_.find(request_id);
      if (found != replies_.end()) found->second = std::move(reply);
      return;
    }
    case tc::Kind::kDeepLink:
      if (!reader.Text(&event.text)) return;
      event.kind = AppEventKind::kDeepLink;
      break;
    case tc::Kind::kAppExchange:
      if (!reader.Text(&event.channel) || !reader.Bytes(&event.message) || !reader.Bytes(&event.reply)) return;
      event.kind = AppEventKind::kAppExchange;
      break;
    case tc::Kind::kStrayResponse:
      event.kind = AppEventKind::kStrayResponse;
      break;
    case tc::Kind::kEngineDestroyed:
      event.kind = AppEventKind::kEngineDestroyed;
      break;
    default:
      return;
  }
  AddEvent(std::move(event));
}

void AppConnection::AddEvent(AppEvent event) {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.push_back(Entry{std::move(event)});
}

AppConnection::Peer* AppConnection::FindPeer(DWORD process_id) {
  Peer* found = nullptr;
  for (const auto& peer : peers_) {
    if (!peer->connected || peer->process_id == 0) continue;
    if (process_id == kAnyProcess || peer->process_id == process_id) found = peer.get();
  }
  return found;  // the latest match
}

std::optional<DWORD> AppConnection::WaitForNewProcess(std::chrono::milliseconds timeout) {
  std::optional<DWORD> process_id;
  WaitUntil(
      [&] {
        std::lock_guard<std::mutex> lock(mutex_);
        if (processes_returned_ >= hello_order_.size()) return false;
        process_id = hello_order_[processes_returned_++];
        return true;
      },
      timeout);
  return process_id;
}

std::vector<DWORD> AppConnection::ConnectedProcesses() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<DWORD> connected;
  for (const auto& peer : peers_) {
    if (peer->connected && peer->process_id != 0) connected.push_back(peer->process_id);
  }
  return connected;
}

bool AppConnection::WaitForDisconnect(DWORD process_id, std::chrono::milliseconds timeout) {
  return WaitUntil(
      [&] {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& peer : peers_) {
          if (peer->process_id == process_id && peer->connected) return false;
        }
        return true;
      },
      timeout);
}

template <typename Match>
std::optional<AppEvent> AppConnection::TakeEvent(Match match, std::chrono::milliseconds timeout) {
  std::optional<AppEvent> taken;
  size_t seen = 0;  // entries before this index were already looked at
  WaitUntil(
      [&] {
        std::lock_guard<std::mutex> lock(mutex_);
        for (; seen < events_.size(); ++seen) {
          Entry& entry = events_[seen];
          if (entry.returned) continue;
          std::optional<AppEvent> matched = match(entry.event);
          if (!matched) continue;
          entry.returned = true;
          taken = std::move(matched);
          return true;
        }
        return false;
      },
      timeout);
  return taken;
}

std::optional<AppEvent> AppConnection::WaitForEvent(AppEventKind kind, DWORD process_id,
                                                    std::chrono::milliseconds timeout) {
  return TakeEvent(
      [&](const AppEvent& event) -> std::optional<AppEvent> {
        if (event.kind != kind || (process_id != kAnyProcess && event.process_id != process_id)) return std::nullopt;
        return event;
      },
      timeout);
}

std::optional<AppEvent> AppConnection::WaitForCall(AppEventKind kind, const std::string& channel,
                                                   const std::string& method, DWORD process_id,
                                                   std::chrono::milliseconds timeout) {
  return TakeEvent(
      [&](const AppEvent& event) -> std::optional<AppEvent> {
        if (event.kind != kind || event.channel != channel) return std::nullopt;
        if (process_id != kAnyProcess && event.process_id != process_id) return std::nullopt;
        std::optional<standins::DecodedCall> call =
            standins::DecodeMethodCall(event.message.data(), event.message.size());
        if (!call || call->method != method) return std::nullopt;
        AppEvent decoded = event;
        decoded.method = call->method;
        decoded.method_arguments = std::move(call->arguments);
        return decoded;
      },
      timeout);
}

std::optional<AppEvent> AppConnection::WaitForOutgoing(const std::string& channel, const std::string& method,
                                                       DWORD process_id, std::chrono::milliseconds timeout) {
  return WaitForCall(AppEventKind::kOutgoing, channel, method, process_id, timeout);
}

std::optional<AppEvent> AppConnection::WaitForAppCall(const std::string& channel, const std::string& method,
                                                      DWORD process_id, std::chrono::milliseconds timeout) {
  return WaitForCall(AppEventKind::kAppExchange, channel, method, process_id, timeout);
}

std::vector<AppEvent> AppConnection::Events() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<AppEvent> events;
  for (const Entry& entry : events_) events.push_back(entry.event);
  return events;
}

std::string AppConnection::Describe() const {
  std::ostringstream out;
  for (const AppEvent& event : Events()) {
    out << "process " << event.process_id << ": " << ToString(event.kind);
    if (!event.channel.empty()) out << " on " << event.channel << ", " << Printable(event.message);
    if (!event.text.empty()) out << ": " << event.text;
    for (const std::string& argument : event.arguments) out << " [" << argument << ']';
    out << '\n';
  }
  return out.str();
}

std::optional<std::vector<uint8_t>> AppConnection::Send(const std::string& channel,
                                                        const std::vector<uint8_t>& message, DWORD process_id,
                                                        std::chrono::milliseconds timeout) {
  Peer* peer = nullptr;
  uint32_t request_id = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    peer = FindPeer(process_id);
    if (peer == nullptr) return std::nullopt;
    request_id = next_request_id_++;
    replies_[request_id] = std::nullopt;
  }
  std::optional<std::vector<uint8_t>> reply;
  if (peer->endpoint->Write(tc::FrameWriter(tc::Kind::kSend).U32(request_id).Text(channel).Bytes(message).Finish())) {
    WaitUntil(
        [&] {
          std::lock_guard<std::mutex> lock(mutex_);
          std::optional<std::vector<uint8_t>>& slot = replies_[request_id];
          if (slot) reply = std::move(slot);
          return reply.has_value() || !peer->connected;
        },
        timeout);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  replies_.erase(request_id);
  return reply;
}

std::optional<standins::MethodReply> AppConnection::CallMethod(const std::string& channel, const std::string& method,
                                                               const flutter::EncodableValue& arguments,
                                                               DWORD process_id, std::chrono::milliseconds timeout) {
  std::optional<std::vector<uint8_t>> reply =
      Send(channel, standins::EncodeMethodCall(method, arguments), process_id, timeout);
  if (!reply) return std::nullopt;
  return standins::DecodeMethodReply(reply->data(), reply->size());
}

bool AppConnection::SetApplicationOn(bool on, DWORD process_id) {
  Peer* peer = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    peer = FindPeer(process_id);
  }
  return peer != nullptr &&
         peer->endpoint->Write(tc::FrameWriter(tc::Kind::kSetApplication).U8(on ? 1 : 0).Finish());
}

bool AppConnection::Welcome(DWORD process_id) {
  Peer* peer = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    peer = FindPeer(process_id);
  }
  return peer != nullptr && WriteWelcome(peer);
}

bool AppConnection::WriteWelcome(Peer* peer) {
  return peer->endpoint->Write(tc::FrameWriter(tc::Kind::kWelcome).U8(options_.application_on ? 1 : 0).Finish());
}

}  // namespace talvor::test
