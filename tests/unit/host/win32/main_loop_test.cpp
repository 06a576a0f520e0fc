// qmhost's loop on Windows: command input read by the reader's own thread, handed
// over when asked for and ended with the input; main-thread work (a message to
// libqmos's queue window) and a plug-in's own window messages served while it sleeps.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "qmhost/event_writer.h"
#include "qmhost/host_presenter.h"
#include "qmhost/line_reader.h"
#include "qmhost/main_loop.h"
#include "qmhost/plugin_host.h"
#include "qmhost/settings_store.h"
#include "qmhost/wake_signal.h"
#include "qmos/application.h"

#include <fcntl.h>
#include <io.h>

#include <windows.h>

namespace {

using Next = qmhost::LineReader::Next;

// An anonymous pipe: the reader gets its read end as a descriptor.
class Pipe {
 public:
  Pipe() {
    HANDLE read = nullptr;
    EXPECT_TRUE(::CreatePipe(&read, &write_, nullptr, 0));
    fd_ = ::_open_osfhandle(reinterpret_cast<intptr_t>(read), _O_RDONLY);
  }
  ~Pipe() { CloseWriter(); }
  int Fd() const { return fd_; }
  void Send(const std::string& text) {
    DWORD written = 0;
    EXPECT_TRUE(::WriteFile(write_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
  }
  void CloseWriter() {
    if (write_ != nullptr) ::CloseHandle(write_);
    write_ = nullptr;
  }

 private:
  HANDLE write_ = nullptr;
  int fd_ = -1;
};

// A window of the main thread, as a plug-in may make one: what its procedure was
// given.
std::atomic<int> g_windowMessages{0};
LRESULT CALLBACK CountingWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP) ++g_windowMessages;
  return ::DefWindowProcW(window, message, wParam, lParam);
}
HWND MakeCountingWindow() {
  WNDCLASSEXW description{};
  description.cbSize = sizeof description;
  description.lpfnWndProc = &CountingWindow;
  description.lpszClassName = L"QmhostTestWindow";
  ::RegisterClassExW(&description);
  return ::CreateWindowExW(0, L"QmhostTestWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

HANDLE Event(const qmhost::WakeSignal& wake) { return reinterpret_cast<HANDLE>(wake.Native()); }

// Waits for the reading thread's signal, then takes what it handed over.
bool FillAfterSignal(qmhost::LineReader& reader, const qmhost::WakeSignal& wake) {
  return ::WaitForSingleObject(Event(wake), 10000) == WAIT_OBJECT_0 && reader.Fill();
}

}  // namespace

TEST(ReaderThread, ReadsWhenAskedHandsOverLinesAndEndsWithTheInput) {
  Pipe pipe;
  qmhost::WakeSignal wake;
  qmhost::LineReader reader(pipe.Fd(), true);
  reader.SetWakeSignal(&wake);
  std::string line;
  EXPECT_FALSE(reader.Fill());  // nothing yet: the thread is asked to read
  pipe.Send("publish a b\npub");
  ASSERT_TRUE(FillAfterSignal(reader, wake));
  EXPECT_EQ(reader.NextLine(line), Next::Line);
  EXPECT_EQ(line, "publish a b");
  EXPECT_EQ(reader.NextLine(line), Next::None);
  // Not asked again: what comes now stays in the pipe until it is.
  pipe.Send("lish c\nquit");
  EXPECT_EQ(::WaitForSingleObject(Event(wake), 200), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_FALSE(reader.Fill());
  ASSERT_TRUE(FillAfterSignal(reader, wake));
  EXPECT_EQ(reader.NextLine(line), Next::Line);
  EXPECT_EQ(line, "publish c");
  EXPECT_EQ(reader.NextLine(line), Next::None);  // "quit" waits for its line end
  pipe.CloseWriter();
  EXPECT_FALSE(reader.Fill());
  ASSERT_TRUE(FillAfterSignal(reader, wake));
  EXPECT_EQ(reader.NextLine(line), Next::Line);
  EXPECT_EQ(line, "quit");
  EXPECT_TRUE(reader.AtEnd());
}

TEST(ReaderThread, AReaderWaitingForInputThatNeverComesEndsAtOnce) {
  Pipe pipe;
  qmhost::WakeSignal wake;
  const auto start = std::chrono::steady_clock::now();
  {
    qmhost::LineReader reader(pipe.Fd(), true);
    reader.SetWakeSignal(&wake);
    EXPECT_FALSE(reader.Fill());
    ::Sleep(50);  // the thread is inside its read now
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(MainLoop, ServesQueuedWorkAndWindowMessagesWhileItSleepsAndEndsWithTheInput) {
  qmos::Application& app = qmos::Application::Instance();
  app.SetMainThread();
  app.StartServing();
  qmhost::WakeSignal wake;
  qmhost::EventWriter events(nullptr, false, qmhost::EventFormat::Json);
  events.SetWakeSignal(&wake);
  qmhost::SettingsStore settings;
  qmhost::HostPresenter presenter(events, false);
  qmhost::PluginHost host(events, settings, presenter, wake);

  Pipe pipe;
  pipe.Send("sleep 1000\nwait synced 5000\n");
  pipe.CloseWriter();  // the end of input then ends the session
  std::vector<std::unique_ptr<qmhost::LineReader>> inputs;
  inputs.push_back(std::make_unique<qmhost::LineReader>(pipe.Fd(), true));
  qmhost::MainLoop loop(host, events, wake, std::move(inputs));
  const HWND window = MakeCountingWindow();
  ASSERT_NE(window, nullptr);

  constexpr int kPosts = 100;
  const auto start = std::chrono::steady_clock::now();
  const auto elapsed = [&] { return std::chrono::steady_clock::now() - start; };
  std::atomic<int> ran{0};
  std::atomic<bool> onMain{false};
  std::chrono::steady_clock::duration syncedAfter{};
  std::thread worker([&] {
    ::Sleep(50);
    ::PostMessageW(window, WM_APP, 0, 0);
    for (int i = 0; i < kPosts; ++i) app.Post([&] { ++ran; });
    app.Synchronize([&] {
      syncedAfter = elapsed();
      onMain = app.IsMainThread() && g_windowMessages.load() == 1;
      events.Write("synced", {{"ran", ran.load()}});
    });
  });
  const int status = loop.Run();
  worker.join();
  EXPECT_EQ(status, qmhost::kExitOk);
  ::DestroyWindow(window);
  EXPECT_EQ(ran.load(), kPosts);  // each once
  EXPECT_TRUE(onMain.load());     // and the window's message came first
  EXPECT_LT(syncedAfter, std::chrono::milliseconds(800));  // served during the sleep
  EXPECT_GE(elapsed(), std::chrono::milliseconds(1000));   // which still lasted
}
