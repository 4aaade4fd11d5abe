// The engine's end of the test connection (standins/test_connection.h).
#ifndef TALVOR_STANDINS_ENGINE_TEST_LINK_H_
#define TALVOR_STANDINS_ENGINE_TEST_LINK_H_

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "runner/win32_handles.h"
#include "standins/test_connection.h"

namespace talvor::standins {

class TestLink {
 public:
  // What the test asks of the engine; called on the link's reader thread.
  struct Receiver {
    std::function<void(uint32_t request_id, std::string channel, std::vector<uint8_t> message)> send;
    std::function<void(bool on)> set_application;
  };

  // Connects to the pipe named in the environment, says hello and waits for
  // the welcome. Null when the variable is not set or the pipe cannot be
  // opened.
  static std::unique_ptr<TestLink> OpenFromEnvironment(Receiver receiver);

  // Takes ownership of a connected pipe handle and says hello.
  TestLink(HANDLE pipe, Receiver receiver);
  ~TestLink();
  TestLink(const TestLink&) = delete;
  TestLink& operator=(const TestLink&) = delete;

  // The built-in application's state that the test asked for in its welcome.
  bool application_on() const { return application_on_.load(); }

  void EngineCreated(const std::vector<std::string>& arguments);
  void EngineFailed(const std::string& reason);
  void FirstFrame();
  void Outgoing(const std::string& channel, const uint8_t* message, size_t size, bool reply_expected);
  void Reply(uint32_t request_id, const std::vector<uint8_t>& reply);
  void DeepLink(const std::string& link);
  void AppExchange(const std::string& channel, const std::vector<uint8_t>& call,
                   const std::vector<uint8_t>& reply);
  void StrayResponse();
  void EngineDestroyed();

 private:
  bool AwaitWelcome();
  void ReadFrames();
  void Dispatch(const std::vector<uint8_t>& body);

  test_connection::PipeEndpoint endpoint_;
  Receiver receiver_;
  UniqueKernelHandle stop_;
  std::mutex welcome_mutex_;
  std::condition_variable welcome_arrived_;
  bool welcomed_ = false;
  std::atomic<bool> application_on_{true};
  std::thread reader_;
};

}  // namespace talvor::standins

#endif  // TALVOR_STANDINS_ENGINE_TEST_LINK_H_
