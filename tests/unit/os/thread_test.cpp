// TThread: shared ownership and self-freeing, weak references racing with the end of
// a thread, bounded waits, exceptions, the running-thread count.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "qmos/application.h"
#include "qmos/event.h"
#include "qmos/sleep.h"
#include "qmos/thread.h"
#include "testsupport/wait.h"

using namespace qmos;
using testsupport::ElapsedMs;
using testsupport::WaitUntil;

namespace {

// Runs until its gate is set (or it is terminated, when it listens), records where
// it ran and whether its object was destroyed.
class GatedThread : public TThread {
 public:
  struct Record {
    std::atomic<bool> destroyed{false};
    std::atomic<bool> destroyedOnOwnThread{false};
    std::atomic<ThreadId> ranOn{0};
    std::atomic<bool> waitForSelf{true};
  };

  GatedThread(std::shared_ptr<Event> gate, std::shared_ptr<Record> record, bool listens = true)
      : gate_(std::move(gate)), record_(std::move(record)), listens_(listens) {
    SetFreeOnTerminate(true);
  }
  ~GatedThread() override {
    record_->destroyedOnOwnThread.store(CurrentThreadId() == record_->ranOn.load());
    record_->destroyed.store(true);
  }

 protected:
  void Execute() override {
    record_->ranOn.store(CurrentThreadId());
    record_->waitForSelf.store(WaitFor(0));
    while (!(listens_ && Terminated())) {
      if (gate_->WaitFor(5) == WaitResult::Signalled) break;
    }
  }
  void TerminatedSet() override {
    if (listens_) gate_->Set();
  }

 private:
  std::shared_ptr<Event> gate_;
  std::shared_ptr<Record> record_;
  bool listens_;
};

class ShortThread : public TThread {
 public:
  explicit ShortThread(int steps) : steps_(steps) { SetFreeOnTerminate(true); }

 protected:
  void Execute() override {
    for (int i = 0; i < steps_ && !Terminated(); ++i) std::this_thread::yield();
  }

 private:
  int steps_;
};

class ThrowingThread : public TThread {
 public:
  explicit ThrowingThread(bool standard) : standard_(standard) {}

 protected:
  void Execute() override {
    if (standard_) throw std::runtime_error("disk on fire");
    throw 42;
  }

 private:
  bool standard_;
};

// Every test leaves no thread of its own running.
class TThreadTest : public ::testing::Test {
 protected:
  void SetUp() override { baseline_ = TThread::RunningCount(); }
  void TearDown() override {
    EXPECT_TRUE(WaitUntil([this] { return TThread::RunningCount() <= baseline_; }));
  }
  int baseline_ = 0;
};

}  // namespace

TEST_F(TThreadTest, FreesItselfWhenExecuteEndsAndOnlyWeakReferencesRemain) {
  auto gate = Event::Create();
  auto record = std::make_shared<GatedThread::Record>();
  std::weak_ptr<GatedThread> weak;
  ThreadId id = 0;
  {
    auto thread = TThread::StartNew<GatedThread>(gate, record);
    ASSERT_NE(thread, nullptr);
    id = thread->ThreadID();
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, CurrentThreadId());
    EXPECT_TRUE(thread->FreeOnTerminate());
    weak = thread;
  }
  // Nobody but the running thread holds it now; it lives on.
  EXPECT_FALSE(weak.expired());
  EXPECT_FALSE(record->destroyed.load());
  EXPECT_EQ(TThread::RunningCount(), baseline_ + 1);

  gate->Set();
  ASSERT_TRUE(WaitUntil([&] { return record->destroyed.load(); }));
  EXPECT_TRUE(weak.expired());
  EXPECT_TRUE(record->destroyedOnOwnThread.load());
  EXPECT_EQ(record->ranOn.load(), id);
  EXPECT_FALSE(record->waitForSelf.load());  // WaitFor on itself does not block
}

TEST_F(TThreadTest, AnOwnerKeepsTheObjectAfterExecuteEnds) {
  auto gate = Event::Create(true);
  auto record = std::make_shared<GatedThread::Record>();
  auto thread = TThread::StartNew<GatedThread>(gate, record);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(thread->WaitFor(10000));
  EXPECT_TRUE(thread->Finished());
  EXPECT_TRUE(WaitUntil([&] { return TThread::RunningCount() == baseline_; }));
  EXPECT_FALSE(record->destroyed.load());
  thread.reset();
  EXPECT_TRUE(record->destroyed.load());
  EXPECT_FALSE(record->destroyedOnOwnThread.load());
}

TEST_F(TThreadTest, WeakReferenceRacesTheEndOfTheThreadSafely) {
  // The host's thread locks and calls a thread exactly as it ends, many times over;
  // the sanitizers watch for use after free and data races.
  for (int round = 0; round < 100; ++round) {
    std::weak_ptr<ShortThread> weak = TThread::StartNew<ShortThread>(round % 7 * 10);
    std::thread racer([weak] {
      for (;;) {
        std::shared_ptr<ShortThread> locked = weak.lock();
        if (!locked) break;
        locked->Terminated();
        locked->Finished();
        locked->ThreadID();
        if (locked->Finished()) locked->Terminate();
      }
    });
    racer.join();
    EXPECT_TRUE(weak.expired());
  }
}

TEST_F(TThreadTest, TerminateWakesTheThreadAndWaitForIsBounded) {
  auto gate = Event::Create();
  auto record = std::make_shared<GatedThread::Record>();
  auto listening = TThread::StartNew<GatedThread>(gate, record);
  ASSERT_NE(listening, nullptr);
  EXPECT_FALSE(listening->Terminated());
  listening->Terminate();
  EXPECT_TRUE(listening->Terminated());
  EXPECT_TRUE(listening->WaitFor(10000));

  // A thread that ignores its terminate flag: WaitFor gives up after its time.
  auto hungGate = Event::Create();
  auto hung = TThread::StartNew<GatedThread>(hungGate, std::make_shared<GatedThread::Record>(),
                                             /*listens=*/false);
  ASSERT_NE(hung, nullptr);
  hung->Terminate();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(hung->WaitFor(50));
  EXPECT_GE(ElapsedMs(start), 49);
  EXPECT_FALSE(hung->Finished());
  hungGate->Set();
  EXPECT_TRUE(hung->WaitFor(kInfinite));
}

TEST_F(TThreadTest, ExceptionsEscapingExecuteAreKeptAsText) {
  auto standard = TThread::StartNew<ThrowingThread>(true);
  auto other = TThread::StartNew<ThrowingThread>(false);
  ASSERT_NE(standard, nullptr);
  ASSERT_NE(other, nullptr);
  std::atomic<bool> hookRan{false};
  EXPECT_TRUE(standard->WaitFor(10000));
  EXPECT_TRUE(other->WaitFor(10000));
  EXPECT_EQ(standard->FatalException(), "disk on fire");
  EXPECT_EQ(other->FatalException(), "unknown exception");

  // The hook runs after a throwing Execute, on that thread, before Finished.
  auto hooked = std::make_shared<ThrowingThread>(true);
  std::atomic<bool> finishedInHook{true};
  std::atomic<bool> onOwnThread{false};
  hooked->SetOnTerminate([&](TThread& self) {
    finishedInHook.store(self.Finished());
    onOwnThread.store(self.IsCurrentThread());
    hookRan.store(true);
  });
  ASSERT_TRUE(hooked->Start());
  EXPECT_TRUE(hooked->WaitFor(10000));
  EXPECT_TRUE(hookRan.load());
  EXPECT_FALSE(finishedInHook.load());
  EXPECT_TRUE(onOwnThread.load());
  EXPECT_EQ(hooked->FatalException(), "disk on fire");
}

TEST_F(TThreadTest, StartNeedsSharedOwnershipAndHappensOnce) {
  GatedThread onStack(Event::Create(true), std::make_shared<GatedThread::Record>());
  EXPECT_FALSE(onStack.Start());
  EXPECT_FALSE(onStack.Started());
  EXPECT_TRUE(onStack.WaitFor(0));  // never started: nothing to wait for
  EXPECT_EQ(onStack.ThreadID(), 0u);

  auto shared = std::make_shared<GatedThread>(Event::Create(true),
                                              std::make_shared<GatedThread::Record>());
  EXPECT_TRUE(shared->Start());
  EXPECT_FALSE(shared->Start());
  EXPECT_TRUE(shared->WaitFor(10000));
}

TEST_F(TThreadTest, RunningCountFollowsThreadsUntilTheyHaveFullyEnded) {
  constexpr int kThreads = 5;
  std::vector<std::shared_ptr<Event>> gates;
  std::vector<std::weak_ptr<GatedThread>> threads;
  for (int i = 0; i < kThreads; ++i) {
    gates.push_back(Event::Create());
    threads.push_back(TThread::StartNew<GatedThread>(
        gates.back(), std::make_shared<GatedThread::Record>(), /*listens=*/false));
  }
  EXPECT_EQ(TThread::RunningCount(), baseline_ + kThreads);
  for (int i = 0; i < kThreads - 1; ++i) gates[i]->Set();
  ASSERT_TRUE(WaitUntil([&] { return TThread::RunningCount() == baseline_ + 1; }));
  EXPECT_FALSE(threads.back().expired());
  gates.back()->Set();
  ASSERT_TRUE(WaitUntil([&] { return TThread::RunningCount() == baseline_; }));
  for (const auto& weak : threads) EXPECT_TRUE(weak.expired());
}

TEST_F(TThreadTest, SynchronizeFromTheMainThreadRunsInline) {
  Application::Instance().SetMainThread();
  Application::Instance().StartServing();
  auto thread = std::make_shared<ShortThread>(0);
  bool ran = false;
  EXPECT_TRUE(thread->Synchronize([&] { ran = true; }));
  EXPECT_TRUE(ran);
}
