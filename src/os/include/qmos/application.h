// The application object: one per process, shared by the host and every plug-in.
//
// It knows the main thread (the host's user-interface thread), keeps the queue of
// functions that must run there, and stands for the main window: its caption,
// message boxes, restore and bring-to-front, and the shell's "Open" of a URL. What
// the user sees is drawn by the Presenter the host installs.
//
// The main-thread queue: any thread may Post a function or Synchronize (post and
// wait). The host's loop polls WakeFd() (readable while something is queued) and
// calls ProcessMessages() on the main thread. At shutdown the host calls
// StopServing(): everything still queued is dropped, every thread waiting in
// Synchronize gets false at once, and later Synchronize calls from other threads
// return false without running their function, so no worker stays blocked on a
// main thread that no longer listens.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <condition_variable>
#include <string>
#include <thread>

#include "qmos/message_box.h"
#include "qmos/presenter.h"

namespace qmos {

class Application {
 public:
  // The process-wide application object. The first thread to ask becomes the main
  // thread until SetMainThread names another one.
  static Application& Instance();

  // Marks the calling thread as the main thread.
  void SetMainThread();
  bool IsMainThread() const;
  std::thread::id MainThreadId() const;

  // ---- The main-thread queue ----

  // Queues fn to run on the main thread and returns at once. False (fn dropped) when
  // the queue is no longer served.
  bool Post(std::function<void()> fn);
  // Runs fn on the main thread and waits until it has run: inline when called on the
  // main thread, otherwise through the queue. An exception thrown by fn on the main
  // thread reaches a waiting worker as a std::runtime_error with its message. Waits as long as it takes the main thread to get to it,
  // except that it returns false without running fn when the queue is no longer
  // served (before or while waiting).
  bool Synchronize(const std::function<void()>& fn);
  // Runs what is queued now (not what those functions queue in turn) and returns how
  // many ran. Only on the main thread; elsewhere it runs nothing and returns 0. An
  // exception escaping a posted function is reported on standard error and the rest
  // still run.
  int ProcessMessages();
  // Waits at most ms milliseconds for something to be queued; true when something is.
  bool WaitForWork(std::uint32_t ms);
  // Number of queued functions.
  std::size_t PendingCount() const;
  // A file descriptor that polls readable while functions are queued (an eventfd;
  // ProcessMessages drains it). -1 when the system refused to make one.
  int WakeFd() const { return wakeFd_; }
  // Shutdown: stop serving the queue, as described above.
  void StopServing();
  // Serve the queue again (a new session of a host, or the next test).
  void StartServing();
  bool Serving() const;

  // ---- The main window ----

  // Installs the presenter; nullptr reinstalls the default one.
  void SetPresenter(std::shared_ptr<Presenter> presenter);
  std::shared_ptr<Presenter> CurrentPresenter() const;

  // The host's main window, where it has a real one: on Windows its window handle
  // (HWND), which owns message boxes and forms and shows the caption. nullptr until
  // the host names one, and always on systems where the host draws no window.
  void SetMainWindow(void* window);
  void* MainWindow() const;

  // The main window's caption ("Quillmere Client" until someone sets it).
  std::string Caption() const;
  // Sets the caption and tells the presenter (on the main thread, as Synchronize,
  // with the caption as it stands when the presenter is called). From another thread
  // after StopServing the caption is stored but not drawn.
  void SetCaption(const std::string& text);
  // Redraws the main window. The presenter is told of every caption change as it
  // happens, so there is nothing left to draw; kept for code written for a window.
  void Repaint();
  // Shows a modal message box and returns the button pressed. From another thread it
  // runs on the main thread as Synchronize does; when that is refused (the queue is
  // no longer served) it shows nothing and returns 0.
  int MessageBox(const std::string& text, const std::string& title, unsigned flags = MB_OK);
  // The application's title, which simple messages carry.
  std::string Title() const { return "Quillmere Client"; }
  // A simple message: the text, the application's title and an OK button.
  void ShowMessage(const std::string& text) { MessageBox(text, Title(), MB_OK); }
  // Restores the main window / brings it to the front (on the main thread).
  void Restore();
  void BringToFront();
  // The shell's "Open" of url (on the main thread); false when it failed.
  bool ShellOpen(const std::string& url);

  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

 private:
  struct SyncCall;
  struct QueueItem {
    std::function<void()> fn;
    std::shared_ptr<SyncCall> sync;  // set for Synchronize calls
  };

  Application();
  ~Application() = default;  // never runs: the object lives as long as the process
  void SignalWake();
  void DrainWake();
  // Runs fn on the main thread (inline there); false when refused.
  bool OnMainThread(const std::function<void()>& fn);

  mutable std::mutex mainMutex_;
  std::thread::id mainThread_;

  mutable std::mutex queueMutex_;
  std::condition_variable queueChanged_;
  std::deque<QueueItem> queue_;
  bool serving_ = true;
  int wakeFd_ = -1;

  mutable std::mutex windowMutex_;
  std::string caption_;
  void* mainWindow_ = nullptr;
  std::shared_ptr<Presenter> presenter_;
};

}  // namespace qmos
