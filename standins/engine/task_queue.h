// Work that must run on the engine's window thread (the thread that created
// the engine): messages for the program, replies, frames. Any thread may post;
// tasks run in order from the window thread's message loop.
#ifndef TALVOR_STANDINS_ENGINE_TASK_QUEUE_H_
#define TALVOR_STANDINS_ENGINE_TASK_QUEUE_H_

#include <windows.h>

#include <deque>
#include <functional>
#include <mutex>

#include "runner/win32_handles.h"

namespace talvor::standins {

class TaskQueue {
 public:
  using Task = std::function<void()>;

  // Call on the window thread.
  TaskQueue();
  ~TaskQueue();
  TaskQueue(const TaskQueue&) = delete;
  TaskQueue& operator=(const TaskQueue&) = delete;

  // Queues `task`; dropped once the queue is closed.
  void Post(Task task);

  // Drops every pending task and refuses later ones.
  void Close();

  bool OnWindowThread() const { return GetCurrentThreadId() == thread_id_; }

  // A message-only window of the window thread; also parks the view until the
  // program gives it a parent.
  HWND window() const { return window_.get(); }

 private:
  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  void RunPending();

  const DWORD thread_id_;
  std::mutex mutex_;
  std::deque<Task> tasks_;
  bool closed_ = false;
  UniqueWindow window_;
};

// The stand-in library's own module handle.
HINSTANCE ThisModule();

}  // namespace talvor::standins

#endif  // TALVOR_STANDINS_ENGINE_TASK_QUEUE_H_
