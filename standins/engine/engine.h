// One engine of the stand-in: the messenger between the program and the
// application, the view that shows the application, the plugins' registrars,
// and the test connection when a test asked for one.
#ifndef TALVOR_STANDINS_ENGINE_ENGINE_H_
#define TALVOR_STANDINS_ENGINE_ENGINE_H_

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "embedding/engine_api.h"
#include "standins/engine/builtin_app.h"
#include "standins/engine/messenger.h"
#include "standins/engine/task_queue.h"
#include "standins/engine/test_link.h"
#include "standins/engine/view.h"
#include "standins/plugin_registrar_api.h"

struct FlutterDesktopPluginRegistrar {
  talvor::standins::Engine* engine = nullptr;
  std::string plugin_name;
  TalvorStandinWindowProcDelegate window_proc_delegate = nullptr;
  void* window_proc_user_data = nullptr;
  TalvorStandinRegistrarDestroyed destroyed = nullptr;
  void* destroyed_user_data = nullptr;
};

// Answers one message that the application sent to the program.
struct FlutterDesktopMessageResponseHandle {
  talvor::standins::ReplySink sink;
};

namespace talvor::standins {

class Engine final : public AppHost, public ViewDelegate {
 public:
  // Null when the properties are unusable or the application's assets are
  // missing (the test connection hears why).
  static std::unique_ptr<Engine> Create(const FlutterDesktopEngineProperties* properties);

  // Use Create; on the window thread.
  Engine();
  ~Engine() override;
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  FlutterDesktopMessenger* messenger() const { return messenger_; }
  FlutterDesktopPluginRegistrar* Registrar(const char* plugin_name);
  void SetNextFrameCallback(FlutterDesktopOnNextFrame callback, void* user_data);
  void ReloadSystemFonts();

  // A view controller takes the engine over: the view is made at the given
  // size and the application starts. False when the view cannot be made or
  // the engine already runs.
  bool RunInView(int width, int height);
  bool running() const { return running_; }
  View* view() const { return view_.get(); }
  void ForceRedraw() { RequestFrame(); }
  bool HandleTopLevelWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam, LRESULT* result);

  // The program's end of the messenger.
  void SetProgramHandler(const char* channel, FlutterDesktopMessageCallback callback, void* user_data);
  bool SendToApplication(const char* channel, const uint8_t* message, size_t size,
                         FlutterDesktopBinaryReply reply, void* user_data);
  // Call with the messenger's lock held.
  void SendResponse(const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data, size_t size);

  // AppHost.
  void SendToProgram(const std::string& channel, std::vector<uint8_t> message, ReplySink on_reply) override;
  void RequestFrame() override;
  void ReportExchange(const std::string& channel, const std::vector<uint8_t>& call,
                      const std::vector<uint8_t>& reply) override;
  void ReportDeepLink(const std::string& link) override;

  // ViewDelegate.
  void PaintFrame(HDC dc, const RECT& bounds, UINT dpi) override;
  void Clicked(POINT point) override;
  void Resized() override;
  void FirstFrameShown() override;

 private:
  struct ProgramHandler {
    FlutterDesktopMessageCallback callback = nullptr;
    void* user_data = nullptr;
  };

  // A send of the program's that waits for the application's reply.
  struct PendingSend {
    FlutterDesktopBinaryReply reply = nullptr;
    void* user_data = nullptr;
  };

  bool Start(const FlutterDesktopEngineProperties* properties, std::string* failure);
  void AnswerSend(uint64_t id, const std::vector<uint8_t>& answer);
  void AnswerPendingSendsEmpty();
  void OpenTestLink();
  void DeliverToProgram(const std::string& channel, const std::vector<uint8_t>& message, ReplySink on_reply);
  void DrawFrame();

  TaskQueue tasks_;
  FlutterDesktopMessenger* messenger_;
  std::unique_ptr<TestLink> link_;
  std::unique_ptr<BuiltinApp> app_;
  std::unique_ptr<View> view_;
  std::vector<std::unique_ptr<FlutterDesktopPluginRegistrar>> registrars_;

  std::mutex handlers_mutex_;
  std::map<std::string, ProgramHandler> handlers_;
  // Unanswered messages to the program; guarded by the messenger's lock.
  std::map<const FlutterDesktopMessageResponseHandle*, std::unique_ptr<FlutterDesktopMessageResponseHandle>>
      responses_;

  // Every accepted reply function is called once: by the application's
  // answer, or with an empty reply when the engine ends first.
  std::mutex pending_sends_mutex_;
  std::map<uint64_t, PendingSend> pending_sends_;
  uint64_t next_send_id_ = 1;

  std::vector<std::string> entrypoint_arguments_;
  FlutterDesktopOnNextFrame next_frame_ = nullptr;
  void* next_frame_user_data_ = nullptr;
  bool frame_scheduled_ = false;
  bool created_ = false;
  std::atomic<bool> running_{false};
};

}  // namespace talvor::standins

#endif  // TALVOR_STANDINS_ENGINE_ENGINE_H_
