#include "standins/engine/task_queue.h"

#include <utility>

namespace talvor::standins {

namespace {

constexpr wchar_t kWindowClass[] = L"TalvorStandinEngineTasks";
constexpr UINT kRunTasks = WM_APP + 1;

}  // namespace

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

TaskQueue::TaskQueue() : thread_id_(GetCurrentThreadId()) {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = &TaskQueue::WindowProcedure;
  window_class.hInstance = ThisModule();
  window_class.lpszClassName = kWindowClass;
  RegisterClassW(&window_class);  // fails harmlessly when already registered
  window_.reset(CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                ThisModule(), nullptr));
  if (window_) SetWindowLongPtrW(window_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

TaskQueue::~TaskQueue() {
  Close();
  if (window_) SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
}

void TaskQueue::Post(Task task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_ || !window_) return;
    tasks_.push_back(std::move(task));
  }
  PostMessageW(window_.get(), kRunTasks, 0, 0);
}

void TaskQueue::Close() {
  std::deque<Task> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    dropped.swap(tasks_);
  }
  // `dropped` is destroyed outside the lock: a task's captures may post.
}

// One task at a time, without the lock held, so that a task may post more
// and a nested message loop inside a task keeps the queue moving.
void TaskQueue::RunPending() {
  while (true) {
    Task task;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closed_ || tasks_.empty()) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    try {
      task();
    } catch (...) {
      // Nothing may escape into the program's message loop.
    }
  }
}

LRESULT CALLBACK TaskQueue::WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kRunTasks) {
    auto* queue = reinterpret_cast<TaskQueue*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (queue != nullptr) queue->RunPending();
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace talvor::standins
