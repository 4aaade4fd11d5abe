#include "standins/engine/engine.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <utility>

namespace talvor::standins {

namespace {

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
  if (length <= 0) return {};
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr,
                      nullptr);
  return narrow;
}

std::filesystem::path ExecutableDirectory() {
  std::wstring buffer(MAX_PATH, L'\0');
  while (true) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      return std::filesystem::path(buffer).parent_path();
    }
    buffer.resize(buffer.size() * 2);
  }
}

// Relative paths name files beside the executable, wherever the process
// was started from.
std::filesystem::path ResolveBesideExecutable(const wchar_t* path) {
  if (path == nullptr || *path == L'\0') return {};
  const std::filesystem::path given(path);
  if (given.is_absolute()) return given;
  return ExecutableDirectory() / given;
}

bool IsDirectory(const std::filesystem::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The bundle's placeholders of the compiled application and the ICU data
// begin with this text; the real engine refuses such files when they are
// damaged, and so does this one when they begin otherwise.
constexpr char kPlaceholderStart[] = "Placeholder for the engine stand-in";

bool IsPlaceholderFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  char start[sizeof(kPlaceholderStart) - 1] = {};
  return file.read(start, sizeof(start)) && std::equal(start, start + sizeof(start), kPlaceholderStart);
}

// A file the engine was given must be one it can use; no path given is no
// check (tests start the engine on assets alone).
bool UsableDataFile(const wchar_t* given, const char* what, std::string* failure) {
  const std::filesystem::path path = ResolveBesideExecutable(given);
  if (path.empty() || IsPlaceholderFile(path)) return true;
  *failure = std::string("the ") + what + " is missing or damaged: " + Narrow(path.wstring());
  return false;
}

}  // namespace

std::unique_ptr<Engine> Engine::Create(const FlutterDesktopEngineProperties* properties) {
  auto engine = std::make_unique<Engine>();
  std::string failure;
  if (!engine->Start(properties, &failure)) {
    if (engine->link_) engine->link_->EngineFailed(failure);
    return nullptr;
  }
  return engine;
}

Engine::Engine() : messenger_(NewMessenger(this)) {}

Engine::~Engine() {
  tasks_.Close();
  for (const auto& registrar : registrars_) {
    if (registrar->destroyed != nullptr) registrar->destroyed(registrar->destroyed_user_data);
  }
  {
    // A reply racing this on another thread either finished or finds the
    // messenger detached.
    std::lock_guard<std::recursive_mutex> lock(messenger_->mutex);
    messenger_->engine = nullptr;
    responses_.clear();
  }
  AnswerPendingSendsEmpty();
  if (link_) {
    if (created_) link_->EngineDestroyed();
    link_.reset();
  }
  view_.reset();
  app_.reset();
  registrars_.clear();
  ReleaseMessenger(messenger_);
}

bool Engine::Start(const FlutterDesktopEngineProperties* properties, std::string* failure) {
  OpenTestLink();
  app_ = std::make_unique<BuiltinApp>(*this, link_ ? link_->application_on() : true);
  if (properties == nullptr) {
    *failure = "no engine properties";
    return false;
  }
  const std::filesystem::path assets = ResolveBesideExecutable(properties->assets_path);
  if (!IsDirectory(assets)) {
    *failure = "the application's assets are missing: " + Narrow(assets.wstring());
    return false;
  }
  if (!UsableDataFile(properties->icu_data_path, "ICU data", failure) ||
      !UsableDataFile(properties->aot_library_path, "compiled application", failure)) {
    return false;
  }
  if (properties->entrypoint_argc < 0 ||
      (properties->entrypoint_argc > 0 && properties->entrypoint_argv == nullptr)) {
    *failure = "invalid entrypoint arguments";
    return false;
  }
  for (int32_t index = 0; index < properties->entrypoint_argc; ++index) {
    const char* argument = properties->entrypoint_argv[index];
    entrypoint_arguments_.emplace_back(argument != nullptr ? argument : "");
  }
  created_ = true;
  if (link_) link_->EngineCreated(entrypoint_arguments_);
  return true;
}

void Engine::OpenTestLink() {
  TestLink::Receiver receiver;
  receiver.send = [this](uint32_t request_id, std::string channel, std::vector<uint8_t> message) {
    SendToProgram(channel, std::move(message), [this, request_id](std::vector<uint8_t> reply) {
      if (link_) link_->Reply(request_id, reply);
    });
  };
  receiver.set_application = [this](bool on) { tasks_.Post([this, on] { app_->SetOn(on); }); };
  link_ = TestLink::OpenFromEnvironment(std::move(receiver));
}

FlutterDesktopPluginRegistrar* Engine::Registrar(const char* plugin_name) {
  if (plugin_name == nullptr) return nullptr;
  for (const auto& registrar : registrars_) {
    if (registrar->plugin_name == plugin_name) return registrar.get();
  }
  auto registrar = std::make_unique<FlutterDesktopPluginRegistrar>();
  registrar->engine = this;
  registrar->plugin_name = plugin_name;
  registrars_.push_back(std::move(registrar));
  return registrars_.back().get();
}

void Engine::SetNextFrameCallback(FlutterDesktopOnNextFrame callback, void* user_data) {
  next_frame_ = callback;
  next_frame_user_data_ = user_data;
  if (callback != nullptr) RequestFrame();
}

void Engine::ReloadSystemFonts() {
  if (app_) app_->ReloadFonts();
}

bool Engine::RunInView(int width, int height) {
  if (running_) return false;
  view_ = std::make_unique<View>(*this, tasks_.window(), width, height);
  if (view_->window() == nullptr) {
    view_.reset();
    return false;
  }
  running_ = true;
  app_->Run();
  return true;
}

bool Engine::HandleTopLevelWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam,
                                      LRESULT* result) {
  // A delegate may change the registrars' delegates while it runs.
  std::vector<std::pair<TalvorStandinWindowProcDelegate, void*>> delegates;
  for (const auto& registrar : registrars_) {
    if (registrar->window_proc_delegate != nullptr) {
      delegates.emplace_back(registrar->window_proc_delegate, registrar->window_proc_user_data);
    }
  }
  for (const auto& [delegate, user_data] : delegates) {
    LRESULT delegate_result = 0;
    if (delegate(window, message, wparam, lparam, &delegate_result, user_data)) {
      if (result != nullptr) *result = delegate_result;
      return true;
    }
  }
  return false;
}

void Engine::SetProgramHandler(const char* channel, FlutterDesktopMessageCallback callback, void* user_data) {
  if (channel == nullptr) return;
  std::lock_guard<std::mutex> lock(handlers_mutex_);
  if (callback == nullptr) {
    handlers_.erase(channel);
  } else {
    handlers_[channel] = ProgramHandler{callback, user_data};
  }
}

bool Engine::SendToApplication(const char* channel, const uint8_t* message, size_t size,
                               FlutterDesktopBinaryReply reply, void* user_data) {
  if (channel == nullptr || !running_) return false;
  std::string name(channel);
  std::vector<uint8_t> bytes;
  if (message != nullptr && size != 0) bytes.assign(message, message + size);
  if (link_) link_->Outgoing(name, bytes.data(), bytes.size(), reply != nullptr);
  uint64_t id = 0;
  if (reply != nullptr) {
    std::lock_guard<std::mutex> lock(pending_sends_mutex_);
    id = next_send_id_++;
    pending_sends_.emplace(id, PendingSend{reply, user_data});
  }
  tasks_.Post([this, id, name = std::move(name), bytes = std::move(bytes)] {
    const std::vector<uint8_t> answer = app_->HandleMessage(name, bytes.data(), bytes.size());
    if (id != 0) AnswerSend(id, answer);
  });
  return true;
}

void Engine::AnswerSend(uint64_t id, const std::vector<uint8_t>& answer) {
  PendingSend send;
  {
    std::lock_guard<std::mutex> lock(pending_sends_mutex_);
    const auto found = pending_sends_.find(id);
    if (found == pending_sends_.end()) return;
    send = found->second;
    pending_sends_.erase(found);
  }
  send.reply(answer.empty() ? nullptr : answer.data(), answer.size(), send.user_data);
}

// On the window thread, as every reply; the program may send again from a
// reply function, which the detached messenger then refuses.
void Engine::AnswerPendingSendsEmpty() {
  std::map<uint64_t, PendingSend> unanswered;
  {
    std::lock_guard<std::mutex> lock(pending_sends_mutex_);
    unanswered.swap(pending_sends_);
  }
  for (const auto& [id, send] : unanswered) send.reply(nullptr, 0, send.user_data);
}

void Engine::SendResponse(const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data, size_t size) {
  const auto found = responses_.find(handle);
  if (found == responses_.end()) {  // answered already, or not ours
    if (link_) link_->StrayResponse();
    return;
  }
  ReplySink sink = std::move(found->second->sink);
  responses_.erase(found);
  std::vector<uint8_t> bytes;
  if (data != nullptr && size != 0) bytes.assign(data, data + size);
  tasks_.Post([sink = std::move(sink), bytes = std::move(bytes)]() mutable { sink(std::move(bytes)); });
}

void Engine::SendToProgram(const std::string& channel, std::vector<uint8_t> message, ReplySink on_reply) {
  tasks_.Post([this, channel, message = std::move(message), on_reply = std::move(on_reply)]() mutable {
    DeliverToProgram(channel, message, std::move(on_reply));
  });
}

void Engine::DeliverToProgram(const std::string& channel, const std::vector<uint8_t>& message,
                              ReplySink on_reply) {
  ProgramHandler handler;
  {
    std::lock_guard<std::mutex> lock(handlers_mutex_);
    const auto found = handlers_.find(channel);
    if (found != handlers_.end()) handler = found->second;
  }
  if (handler.callback == nullptr) {
    // Nobody listens on the channel: the empty reply, as for "not implemented".
    tasks_.Post([on_reply = std::move(on_reply)] { on_reply({}); });
    return;
  }
  auto record = std::make_unique<FlutterDesktopMessageResponseHandle>();
  record->sink = std::move(on_reply);
  const FlutterDesktopMessageResponseHandle* handle = record.get();
  {
    std::lock_guard<std::recursive_mutex> lock(messenger_->mutex);
    responses_.emplace(handle, std::move(record));
  }
  const FlutterDesktopMessage delivered{sizeof(FlutterDesktopMessage), channel.c_str(),
                                        message.empty() ? nullptr : message.data(), message.size(), handle};
  handler.callback(messenger_, &delivered, handler.user_data);
}

void Engine::RequestFrame() {
  if (!running_ || frame_scheduled_) return;
  frame_scheduled_ = true;
  tasks_.Post([this] { DrawFrame(); });
}

void Engine::DrawFrame() {
  frame_scheduled_ = false;
  if (!view_ || view_->window() == nullptr) return;
  view_->RenderFrame();
  if (next_frame_ != nullptr) {
    const FlutterDesktopOnNextFrame callback = std::exchange(next_frame_, nullptr);
    void* user_data = std::exchange(next_frame_user_data_, nullptr);
    callback(user_data);
  }
}

void Engine::ReportExchange(const std::string& channel, const std::vector<uint8_t>& call,
                            const std::vector<uint8_t>& reply) {
  if (link_) link_->AppExchange(channel, call, reply);
}

void Engine::ReportDeepLink(const std::string& link) {
  if (link_) link_->DeepLink(link);
}

void Engine::PaintFrame(HDC dc, const RECT& bounds, UINT dpi) { app_->Paint(dc, bounds, dpi); }

void Engine::Clicked(POINT point) { app_->Click(point); }

void Engine::Resized() { RequestFrame(); }

void Engine::FirstFrameShown() {
  if (link_) link_->FirstFrame();
}

}  // namespace talvor::standins
