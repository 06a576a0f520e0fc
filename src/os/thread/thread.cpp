#include "qmos/thread.h"

#include <chrono>
#include <exception>

#include "qmos/application.h"
#include "qmos/event.h"
#include "thread/thread_start.h"

namespace qmos {

namespace {

// TThreads started and not yet fully ended; see RunningCount().
std::atomic<int> runningThreads{0};

// How long Start waits for the new thread to report its id. The new thread does
// nothing else first, so this only bounds a system that has stopped scheduling.
constexpr auto kStartHandshake = std::chrono::seconds(10);

}  // namespace

TThread::TThread() = default;

TThread::~TThread() = default;

int TThread::RunningCount() { return runningThreads.load(std::memory_order_acquire); }

bool TThread::Started() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return started_;
}

bool TThread::Start() {
  std::shared_ptr<TThread> self = weak_from_this().lock();
  if (!self) return false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (started_) return false;
    started_ = true;
  }
  runningThreads.fetch_add(1, std::memory_order_acq_rel);
  // The new thread takes over this reference: it keeps the object alive while it runs.
  auto* box = new std::shared_ptr<TThread>(std::move(self));

  if (!detail::StartDetachedThread(&TThread::Procedure, box)) {
    delete box;
    runningThreads.fetch_sub(1, std::memory_order_acq_rel);
    std::lock_guard<std::mutex> lock(mutex_);
    started_ = false;
    return false;
  }

  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, kStartHandshake, [this] { return ThreadID() != 0; });
  return true;
}

void TThread::Procedure(void* arg) {
  auto* box = static_cast<std::shared_ptr<TThread>*>(arg);
  std::shared_ptr<TThread> self = std::move(*box);
  delete box;
  self->Run();
  // This may be the last reference: the derived destructor then runs here. After it
  // only this library's code runs on this thread.
  self.reset();
  runningThreads.fetch_sub(1, std::memory_order_acq_rel);
}

void TThread::Run() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    osThread_ = std::this_thread::get_id();
    threadId_.store(CurrentThreadId(), std::memory_order_release);
  }
  changed_.notify_all();

  try {
    Execute();
  } catch (const std::exception& e) {
    RecordFailure(e.what());
  } catch (...) {
    RecordFailure("unknown exception");
  }

  std::function<void(TThread&)> hook;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    hook.swap(onTerminate_);
  }
  if (hook) {
    try {
      hook(*this);
    } catch (const std::exception& e) {
      RecordFailure(e.what());
    } catch (...) {
      RecordFailure("unknown exception");
    }
    hook = nullptr;
  }

  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_.store(true, std::memory_order_release);
  }
  changed_.notify_all();
}

void TThread::RecordFailure(std::string text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fatalException_.empty()) fatalException_ = std::move(text);
}

void TThread::Terminate() {
  terminated_.store(true, std::memory_order_release);
  TerminatedSet();
}

bool TThread::IsCurrentThread() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return started_ && osThread_ == std::this_thread::get_id();
}

bool TThread::WaitFor(std::uint32_t ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!started_) return true;
  if (osThread_ == std::this_thread::get_id()) return Finished();
  const auto done = [this] { return Finished(); };
  if (ms == kInfinite) {
    changed_.wait(lock, done);
    return true;
  }
  return changed_.wait_for(lock, std::chrono::milliseconds(ms), done);
}

void TThread::SetOnTerminate(std::function<void(TThread&)> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  onTerminate_ = std::move(hook);
}

bool TThread::Synchronize(const std::function<void()>& fn) {
  return Application::Instance().Synchronize(fn);
}

std::string TThread::FatalException() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fatalException_;
}

}  // namespace qmos
