// Threads that own their lifetime: the base class of every worker.
//
// A TThread lives in a std::shared_ptr. Start() (or StartNew) makes the running
// thread hold a shared reference to its own object until Execute has returned, so
// the object is freed when Execute has returned AND nobody else holds a reference;
// others may keep std::weak_ptr and lock it whenever they like, even while the
// thread ends. The operating-system thread is detached: nothing ever joins it, and
// the destructor may run on the thread itself. WaitFor(ms) waits, bounded, for
// Execute to end.
//
// Unloading a module: the thread procedure is part of this library. Its last acts
// are to drop the self reference (which may run the derived destructor) and then to
// lower the process-wide count of running threads, touching nothing of the module
// that defined the derived class. A module may therefore be unloaded once
// RunningCount() says none of its threads runs (with several modules in a process,
// the count covers all of them, which errs on the side of keeping a module loaded).
// A module must drop its own weak references first: the last weak reference frees
// the control block, whose code belongs to the module that created the object.
//
// Exceptions escaping Execute (or the OnTerminate hook) are caught; their text is
// kept in FatalException() and the process goes on.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>

namespace qmos {

using ThreadId = std::uint32_t;

// The operating system's id of the calling thread.
ThreadId CurrentThreadId();

class TThread : public std::enable_shared_from_this<TThread> {
 public:
  // Makes a T with these arguments and starts it. Null when no thread could be
  // started (the object is then freed again).
  template <class T, class... Args>
  static std::shared_ptr<T> StartNew(Args&&... args) {
    static_assert(std::is_base_of_v<TThread, T>, "StartNew makes TThread classes");
    std::shared_ptr<T> thread = std::make_shared<T>(std::forward<Args>(args)...);
    if (!thread->Start()) return nullptr;
    return thread;
  }

  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Starts Execute on a new thread. The object must be held by a std::shared_ptr.
  // False when it is not, when it was started before, or when the system refused a
  // new thread. Returns once the new thread has its id.
  bool Start();
  bool Started() const;

  // Asks Execute to end: sets the terminate flag (Execute tests it between steps)
  // and calls TerminatedSet().
  void Terminate();
  bool Terminated() const { return terminated_.load(std::memory_order_acquire); }

  // Kept for classes that say how they end. With shared ownership both settings
  // free the object when the last reference goes and never before Execute returns.
  bool FreeOnTerminate() const { return freeOnTerminate_.load(std::memory_order_relaxed); }
  void SetFreeOnTerminate(bool value) { freeOnTerminate_.store(value, std::memory_order_relaxed); }

  // The operating system's id of the thread; 0 before Start.
  ThreadId ThreadID() const { return threadId_.load(std::memory_order_acquire); }
  // True once Execute and the OnTerminate hook have returned.
  bool Finished() const { return finished_.load(std::memory_order_acquire); }
  // True when called on this thread.
  bool IsCurrentThread() const;

  // Waits at most ms milliseconds (kInfinite: no limit) until the thread has
  // finished. True when it has, or when it was never started; false on time-out and
  // when called on the thread itself (it would wait for itself).
  bool WaitFor(std::uint32_t ms);

  // A hook run on this thread after Execute returns (also after it threw), before
  // Finished() turns true. Set it before Start.
  void SetOnTerminate(std::function<void(TThread&)> hook);

  // Runs fn on the main thread and waits for it; see Application::Synchronize.
  bool Synchronize(const std::function<void()>& fn);

  // The text of an exception that escaped Execute or the hook; empty when none did.
  std::string FatalException() const;

  // How many TThreads of this process have started and not yet fully ended (their
  // procedure has dropped its reference to the object).
  static int RunningCount();

 protected:
  TThread();
  // The thread's work. Test Terminated() between steps.
  virtual void Execute() = 0;
  // Called by Terminate() on the calling thread, after the flag is set: a class whose
  // Execute sleeps on an event may set it here.
  virtual void TerminatedSet() {}

 private:
  static void Procedure(void* arg);
  void Run();
  void RecordFailure(std::string text);

  std::atomic<bool> terminated_{false};
  std::atomic<bool> freeOnTerminate_{false};
  std::atomic<bool> finished_{false};
  std::atomic<ThreadId> threadId_{0};

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool started_ = false;
  std::thread::id osThread_;
  std::function<void(TThread&)> onTerminate_;
  std::string fatalException_;
};

}  // namespace qmos
