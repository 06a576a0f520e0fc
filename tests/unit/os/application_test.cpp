// The application object: the main-thread queue and Synchronize (including the
// shutdown rule), message boxes and the caption through a presenter, the URL opener.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "qmos/application.h"
#include "qmos/message_box.h"
#include "qmos/presenter.h"
#include "testsupport/temp_dir.h"
#include "testsupport/wait.h"

using namespace qmos;
using testsupport::WaitUntil;

namespace {

class FakePresenter : public Presenter {
 public:
  struct Box {
    std::string text, title;
    unsigned flags;
    bool onMain;
  };
  int ShowMessageBox(const std::string& text, const std::string& title, unsigned flags) override {
    std::lock_guard<std::mutex> lock(mutex);
    boxes.push_back({text, title, flags, Application::Instance().IsMainThread()});
    return answer;
  }
  void CaptionChanged(const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex);
    captions.push_back(text);
    captionsOnMain = captionsOnMain && Application::Instance().IsMainThread();
  }
  bool OpenUrl(const std::string& url) override {
    std::lock_guard<std::mutex> lock(mutex);
    urls.push_back(url);
    return true;
  }
  void BringToFront() override { broughtToFront.fetch_add(1); }

  std::mutex mutex;
  int answer = IDNO;
  std::vector<Box> boxes;
  std::vector<std::string> captions;
  bool captionsOnMain = true;
  std::vector<std::string> urls;
  std::atomic<int> broughtToFront{0};
};

class ApplicationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app.SetMainThread();
    app.StartServing();
    app.SetPresenter(nullptr);
    app.ProcessMessages();
  }
  void TearDown() override {
    app.StartServing();
    app.SetPresenter(nullptr);
    app.ProcessMessages();
  }
  // Serves the queue as a host loop would until pred holds (bounded).
  bool PumpUntil(const std::function<bool()>& pred) {
    return WaitUntil([&] {
      app.WaitForWork(5);
      app.ProcessMessages();
      return pred();
    });
  }
  Application& app = Application::Instance();
};

bool FdReadable(int fd) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, 0) == 1 && (entry.revents & POLLIN) != 0;
}

}  // namespace

TEST_F(ApplicationTest, SynchronizeFromAWorkerRunsOnTheMainThreadWhenItPumps) {
  std::atomic<bool> ran{false};
  std::atomic<bool> ranOnMain{false};
  std::atomic<int> result{-1};
  std::thread worker([&] {
    result = app.Synchronize([&] {
      ranOnMain = app.IsMainThread();
      ran = true;
    });
  });
  // Queued, announced on the wake-up descriptor, and not run until the main thread pumps.
  ASSERT_TRUE(WaitUntil([&] { return app.PendingCount() == 1; }));
  EXPECT_TRUE(FdReadable(app.WakeFd()));
  EXPECT_TRUE(app.WaitForWork(0));
  EXPECT_FALSE(ran.load());
  EXPECT_EQ(app.ProcessMessages(), 1);
  worker.join();
  EXPECT_TRUE(ran.load());
  EXPECT_TRUE(ranOnMain.load());
  EXPECT_EQ(result.load(), 1);
  EXPECT_FALSE(FdReadable(app.WakeFd()));
  EXPECT_FALSE(app.WaitForWork(0));
}

TEST_F(ApplicationTest, SynchronizeOnTheMainThreadRunsInline) {
  bool ran = false;
  EXPECT_TRUE(app.Synchronize([&] { ran = true; }));
  EXPECT_TRUE(ran);
  EXPECT_EQ(app.PendingCount(), 0u);
}

TEST_F(ApplicationTest, AnExceptionInASynchronizedFunctionReachesTheCaller) {
  std::string caught;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    try {
      app.Synchronize([] { throw std::runtime_error("main thread says no"); });
    } catch (const std::exception& e) {
      caught = e.what();
    }
    done = true;
  });
  ASSERT_TRUE(PumpUntil([&] { return done.load(); }));
  worker.join();
  EXPECT_EQ(caught, "main thread says no");

  // A throwing posted function does not stop the ones after it.
  int ranAfter = 0;
  app.Post([] { throw std::logic_error("posted failure"); });
  app.Post([&] { ++ranAfter; });
  EXPECT_EQ(app.ProcessMessages(), 2);
  EXPECT_EQ(ranAfter, 1);
}

TEST_F(ApplicationTest, StopServingReleasesWaitingWorkersAndRefusesLaterCalls) {
  constexpr int kWorkers = 3;
  std::atomic<int> ran{0};
  std::atomic<int> refused{0};
  std::vector<std::thread> workers;
  for (int i = 0; i < kWorkers; ++i) {
    workers.emplace_back([&] {
      if (!app.Synchronize([&] { ran.fetch_add(1); })) refused.fetch_add(1);
    });
  }
  ASSERT_TRUE(WaitUntil([&] { return app.PendingCount() == kWorkers; }));
  bool postedRan = false;
  EXPECT_TRUE(app.Post([&] { postedRan = true; }));

  app.StopServing();
  for (auto& w : workers) w.join();  // nobody is left blocked
  EXPECT_EQ(refused.load(), kWorkers);
  EXPECT_EQ(ran.load(), 0);
  EXPECT_FALSE(app.Serving());
  EXPECT_EQ(app.ProcessMessages(), 0);
  EXPECT_FALSE(postedRan);
  EXPECT_FALSE(FdReadable(app.WakeFd()));

  // Later calls from other threads are refused at once; the main thread still runs
  // its own inline.
  bool later = true;
  std::thread([&] { later = app.Synchronize([&] { ran.fetch_add(1); }); }).join();
  EXPECT_FALSE(later);
  EXPECT_FALSE(app.Post([] {}));
  EXPECT_TRUE(app.Synchronize([&] { ran.fetch_add(1); }));
  EXPECT_EQ(ran.load(), 1);
}

TEST_F(ApplicationTest, ProcessMessagesServesOnlyTheMainThreadAndOnlyWhatWasQueued) {
  int count = 0;
  app.Post([&] {
    ++count;
    app.Post([&] { ++count; });  // queued while running: the next pump runs it
  });
  int fromWorker = -1;
  std::thread([&] { fromWorker = app.ProcessMessages(); }).join();
  EXPECT_EQ(fromWorker, 0);
  EXPECT_EQ(app.ProcessMessages(), 1);
  EXPECT_EQ(count, 1);
  EXPECT_TRUE(FdReadable(app.WakeFd()));
  EXPECT_EQ(app.ProcessMessages(), 1);
  EXPECT_EQ(count, 2);
  EXPECT_FALSE(app.Post(nullptr));
}

TEST_F(ApplicationTest, MessageBoxesGoToTheInstalledPresenterOnTheMainThread) {
  auto presenter = std::make_shared<FakePresenter>();
  app.SetPresenter(presenter);
  EXPECT_EQ(app.MessageBox("Really?", "Question", MB_YESNO | MB_ICONQUESTION), IDNO);

  std::atomic<int> workerAnswer{-1};
  presenter->answer = IDRETRY;
  std::thread worker([&] {
    workerAnswer = app.MessageBox("Link lost", "Connection", MB_RETRYCANCEL | MB_ICONERROR);
  });
  ASSERT_TRUE(PumpUntil([&] { return workerAnswer.load() != -1; }));
  worker.join();
  EXPECT_EQ(workerAnswer.load(), IDRETRY);

  ASSERT_EQ(presenter->boxes.size(), 2u);
  EXPECT_EQ(presenter->boxes[0].text, "Really?");
  EXPECT_EQ(presenter->boxes[0].title, "Question");
  EXPECT_EQ(presenter->boxes[0].flags, MB_YESNO | MB_ICONQUESTION);
  EXPECT_EQ(presenter->boxes[1].title, "Connection");
  EXPECT_TRUE(presenter->boxes[0].onMain);
  EXPECT_TRUE(presenter->boxes[1].onMain);

  // After shutdown a worker's box is not shown: it gets 0.
  app.StopServing();
  int late = -1;
  std::thread([&] { late = app.MessageBox("late", "t", MB_OK); }).join();
  EXPECT_EQ(late, 0);
  EXPECT_EQ(presenter->boxes.size(), 2u);
}

TEST_F(ApplicationTest, CaptionAndWindowRequestsReachThePresenter) {
  auto presenter = std::make_shared<FakePresenter>();
  app.SetPresenter(presenter);
  EXPECT_EQ(app.CurrentPresenter(), presenter);
  app.SetCaption("Quillmere Client - Now Validating Password");
  std::atomic<bool> done{false};
  std::thread worker([&] {
    app.SetCaption("Quillmere Client");
    app.BringToFront();
    done = true;
  });
  ASSERT_TRUE(PumpUntil([&] { return done.load(); }));
  worker.join();
  EXPECT_EQ(app.Caption(), "Quillmere Client");
  EXPECT_EQ(presenter->captions,
            (std::vector<std::string>{"Quillmere Client - Now Validating Password",
                                      "Quillmere Client"}));
  EXPECT_TRUE(presenter->captionsOnMain);
  EXPECT_EQ(presenter->broughtToFront.load(), 1);
  EXPECT_TRUE(app.ShellOpen("https://example.invalid/help"));
  EXPECT_EQ(presenter->urls, std::vector<std::string>{"https://example.invalid/help"});
}

TEST(MessageBoxButtons, FirstAndDefaultButtonsFollowTheFlags) {
  EXPECT_EQ(MessageBoxFirstButton(MB_OK | MB_ICONERROR), IDOK);
  EXPECT_EQ(MessageBoxFirstButton(MB_OKCANCEL), IDOK);
  EXPECT_EQ(MessageBoxFirstButton(MB_YESNO), IDYES);
  EXPECT_EQ(MessageBoxFirstButton(MB_YESNOCANCEL), IDYES);
  EXPECT_EQ(MessageBoxFirstButton(MB_RETRYCANCEL), IDRETRY);
  EXPECT_EQ(MessageBoxFirstButton(MB_ABORTRETRYIGNORE), IDABORT);
  EXPECT_EQ(MessageBoxFirstButton(MB_CANCELTRYCONTINUE), IDCANCEL);
  EXPECT_EQ(MessageBoxFirstButton(0xF), IDOK);  // unknown button type
  EXPECT_EQ(MessageBoxDefaultButton(MB_YESNO | MB_DEFBUTTON2), IDNO);
  EXPECT_EQ(MessageBoxDefaultButton(MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
  EXPECT_EQ(MessageBoxDefaultButton(MB_YESNO | MB_DEFBUTTON3), IDYES);  // out of range
  EXPECT_TRUE(MessageBoxOffers(MB_OKCANCEL, IDCANCEL));
  EXPECT_FALSE(MessageBoxOffers(MB_OKCANCEL, IDYES));

  // With no presenter installed, a box answers its first button.
  Presenter fallback;
  EXPECT_EQ(fallback.ShowMessageBox("text", "title", MB_YESNO | MB_DEFBUTTON2), IDYES);
}

namespace {

// Puts a fake "xdg-open" first on PATH for the life of the object.
class FakeOpener {
 public:
  explicit FakeOpener(int exitStatus) {
    log_ = dir_.Path() + "/args";
    const std::string script = dir_.Path() + "/xdg-open";
    std::ofstream(script) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" << log_
                          << "'\nexit " << exitStatus << "\n";
    ::chmod(script.c_str(), 0755);
    const char* path = std::getenv("PATH");
    oldPath_ = path != nullptr ? path : "";
    ::setenv("PATH", dir_.Path().c_str(), 1);
  }
  ~FakeOpener() { ::setenv("PATH", oldPath_.c_str(), 1); }
  std::string Arguments() const {
    std::ifstream in(log_);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }

 private:
  testsupport::TempDir dir_;
  std::string log_;
  std::string oldPath_;
};

}  // namespace

TEST(UrlOpener, PassesTheUrlAsOneArgumentWithoutAShell) {
  FakeOpener opener(0);
  const std::string url = "https://host/a b?x=1;touch /tmp/pwned&y=$(id)`id`";
  std::string error;
  EXPECT_TRUE(RunUrlOpener(url, &error)) << error;
  EXPECT_EQ(opener.Arguments(), url + "\n");
}

TEST(UrlOpener, ReportsFailuresAndRefusesOptionLikeUrls) {
  {
    FakeOpener failing(4);
    std::string error;
    EXPECT_FALSE(RunUrlOpener("https://host/", &error));
    EXPECT_NE(error.find("status 4"), std::string::npos) << error;
    EXPECT_FALSE(RunUrlOpener("--version", &error));
    EXPECT_FALSE(RunUrlOpener("", &error));
    EXPECT_EQ(failing.Arguments(), "https://host/\n");  // only the first one ran
  }
  testsupport::TempDir empty;
  const char* path = std::getenv("PATH");
  const std::string oldPath = path != nullptr ? path : "";
  ::setenv("PATH", empty.Path().c_str(), 1);
  std::string error;
  EXPECT_FALSE(RunUrlOpener("https://host/", &error));
  EXPECT_FALSE(error.empty());
  ::setenv("PATH", oldPath.c_str(), 1);
}
