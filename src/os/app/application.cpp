#include "qmos/application.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>

#include "app/main_queue_wake.h"

namespace qmos {

// The state of one Synchronize call, shared by the waiting thread and the queue.
// Pending -> Running -> Done when the main thread runs it; Pending -> Cancelled when
// the queue stops being served first.
struct Application::SyncCall {
  enum class State { Pending, Running, Done, Cancelled };
  std::mutex mutex;
  std::condition_variable changed;
  State state = State::Pending;
  const std::function<void()>* fn = nullptr;  // the caller's; it waits until Done
  // What the function threw, as text. Only the text crosses threads: the exception
  // object itself is made and freed on the main thread.
  std::optional<std::string> error;
};

namespace {

void ReportQueuedFailure(const char* what) {
  std::fprintf(stderr, "qmos: a function queued for the main thread failed: %s\n", what);
}

}  // namespace

Application& Application::Instance() {
  // Never destroyed: detached threads may still use it while the process exits.
  static Application* const instance = new Application();
  return *instance;
}

Application::Application()
    : mainThread_(std::this_thread::get_id()),
      wakeFd_(detail::MakeQueueWake()),
      caption_("Quillmere Client") {}

void Application::SetMainThread() {
  {
    std::lock_guard<std::mutex> lock(mainMutex_);
    mainThread_ = std::this_thread::get_id();
  }
  detail::MoveQueueWakeToThisThread();
  // What was queued before wakes the new main thread.
  std::lock_guard<std::mutex> lock(queueMutex_);
  if (!queue_.empty()) SignalWake();
}

bool Application::IsMainThread() const {
  std::lock_guard<std::mutex> lock(mainMutex_);
  return mainThread_ == std::this_thread::get_id();
}

std::thread::id Application::MainThreadId() const {
  std::lock_guard<std::mutex> lock(mainMutex_);
  return mainThread_;
}

bool Application::Post(std::function<void()> fn) {
  if (!fn) return false;
  {
    std::lock_guard<std::mutex> lock(queueMutex_);
    if (!serving_) return false;
    queue_.push_back(QueueItem{std::move(fn), nullptr});
    SignalWake();
  }
  queueChanged_.notify_all();
  return true;
}

bool Application::Synchronize(const std::function<void()>& fn) {
  if (!fn) return false;
  if (IsMainThread()) {
    fn();
    return true;
  }
  auto call = std::make_shared<SyncCall>();
  call->fn = &fn;
  {
    std::lock_guard<std::mutex> lock(queueMutex_);
    if (!serving_) return false;
    queue_.push_back(QueueItem{nullptr, call});
    SignalWake();
  }
  queueChanged_.notify_all();

  std::unique_lock<std::mutex> lock(call->mutex);
  call->changed.wait(lock, [&] {
    return call->state == SyncCall::State::Done || call->state == SyncCall::State::Cancelled;
  });
  if (call->state == SyncCall::State::Cancelled) return false;
  if (call->error) throw std::runtime_error(*call->error);
  return true;
}

int Application::ProcessMessages() {
  if (!IsMainThread()) return 0;
  std::deque<QueueItem> batch;
  {
    std::lock_guard<std::mutex> lock(queueMutex_);
    batch.swap(queue_);
    DrainWake();
  }
  int ran = 0;
  for (QueueItem& item : batch) {
    if (item.sync) {
      SyncCall& call = *item.sync;
      {
        std::lock_guard<std::mutex> lock(call.mutex);
        if (call.state != SyncCall::State::Pending) continue;
        call.state = SyncCall::State::Running;
      }
      std::optional<std::string> error;
      try {
        (*call.fn)();
      } catch (const std::exception& e) {
        error = e.what();
      } catch (...) {
        error = "unknown exception";
      }
      {
        std::lock_guard<std::mutex> lock(call.mutex);
        call.error = error;
        call.state = SyncCall::State::Done;
        // Notify under the lock: once the waiter sees Done it may return and free
        // its side, but the SyncCall itself is shared and stays valid here.
        call.changed.notify_all();
      }
      ++ran;
      continue;
    }
    try {
      item.fn();
    } catch (const std::exception& e) {
      ReportQueuedFailure(e.what());
    } catch (...) {
      ReportQueuedFailure("unknown exception");
    }
    ++ran;
    item.fn = nullptr;  // release what it captured now, on the main thread
  }
  return ran;
}

bool Application::WaitForWork(std::uint32_t ms) {
  std::unique_lock<std::mutex> lock(queueMutex_);
  queueChanged_.wait_for(lock, std::chrono::milliseconds(ms),
                         [this] { return !queue_.empty() || !serving_; });
  return !queue_.empty();
}

std::size_t Application::PendingCount() const {
  std::lock_guard<std::mutex> lock(queueMutex_);
  return queue_.size();
}

void Application::StopServing() {
  std::deque<QueueItem> dropped;
  {
    std::lock_guard<std::mutex> lock(queueMutex_);
    serving_ = false;
    dropped.swap(queue_);
    DrainWake();
  }
  queueChanged_.notify_all();
  for (QueueItem& item : dropped) {
    if (!item.sync) continue;
    std::lock_guard<std::mutex> lock(item.sync->mutex);
    if (item.sync->state == SyncCall::State::Pending) {
      item.sync->state = SyncCall::State::Cancelled;
      item.sync->changed.notify_all();
    }
  }
}

void Application::StartServing() {
  std::lock_guard<std::mutex> lock(queueMutex_);
  serving_ = true;
}

bool Application::Serving() const {
  std::lock_guard<std::mutex> lock(queueMutex_);
  return serving_;
}

// ---- The main window ----

namespace {

std::shared_ptr<Presenter> DefaultPresenter() {
  static const std::shared_ptr<Presenter> fallback = std::make_shared<Presenter>();
  return fallback;
}

}  // namespace

void Application::SetPresenter(std::shared_ptr<Presenter> presenter) {
  std::lock_guard<std::mutex> lock(windowMutex_);
  presenter_ = std::move(presenter);
}

std::shared_ptr<Presenter> Application::CurrentPresenter() const {
  std::lock_guard<std::mutex> lock(windowMutex_);
  return presenter_ ? presenter_ : DefaultPresenter();
}

bool Application::OnMainThread(const std::function<void()>& fn) {
  return Synchronize(fn);
}

void Application::SetMainWindow(void* window) {
  std::lock_guard<std::mutex> lock(windowMutex_);
  mainWindow_ = window;
}

void* Application::MainWindow() const {
  std::lock_guard<std::mutex> lock(windowMutex_);
  return mainWindow_;
}

std::string Application::Caption() const {
  std::lock_guard<std::mutex> lock(windowMutex_);
  return caption_;
}

void Application::SetCaption(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(windowMutex_);
    caption_ = text;
  }
  OnMainThread([this] { CurrentPresenter()->CaptionChanged(Caption()); });
}

void Application::Repaint() {}

int Application::MessageBox(const std::string& text, const std::string& title, unsigned flags) {
  int answer = 0;
  OnMainThread([&] { answer = CurrentPresenter()->ShowMessageBox(text, title, flags); });
  return answer;
}

void Application::Restore() {
  OnMainThread([this] { CurrentPresenter()->Restore(); });
}

void Application::BringToFront() {
  OnMainThread([this] { CurrentPresenter()->BringToFront(); });
}

bool Application::ShellOpen(const std::string& url) {
  bool opened = false;
  OnMainThread([&] { opened = CurrentPresenter()->OpenUrl(url); });
  return opened;
}

}  // namespace qmos
