// The main-thread queue on Windows: what workers queue is run by the host's own
// message loop, on the thread that is the main thread, however much is queued.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "qmos/application.h"
#include "qmos/thread.h"

#include <windows.h>

namespace {

// The host's loop: dispatches the calling thread's messages until done() or the
// time runs out; false when it ran out.
template <class Done>
bool PumpUntil(Done done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
  return true;
}

class MainQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    app_.SetMainThread();
    app_.StartServing();
  }
  qmos::Application& app_ = qmos::Application::Instance();
};

TEST_F(MainQueueTest, WorkersAreServedByTheHostsMessageLoopOnTheMainThread) {
  constexpr int kWorkers = 4;
  constexpr int kCallsEach = 250;
  const qmos::ThreadId mainThread = qmos::CurrentThreadId();
  std::atomic<int> ran{0};
  std::atomic<int> offMain{0};
  std::atomic<int> refused{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&] {
      for (int i = 0; i < kCallsEach; ++i) {
        const bool served = app_.Synchronize([&] {
          if (qmos::CurrentThreadId() != mainThread) ++offMain;
          ++ran;
        });
        if (!served) ++refused;
      }
    });
  }
  EXPECT_TRUE(PumpUntil([&] { return ran.load() + refused.load() == kWorkers * kCallsEach; }));
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(ran.load(), kWorkers * kCallsEach);
  EXPECT_EQ(offMain.load(), 0);
  EXPECT_EQ(refused.load(), 0);
}

TEST_F(MainQueueTest, WhatWasQueuedBeforeANewMainThreadIsServedByThatThreadsLoop) {
  std::atomic<int> ran{0};
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(app_.Post([&] { ++ran; }));
  std::atomic<qmos::ThreadId> ranOn{0};
  ASSERT_TRUE(app_.Post([&] { ranOn = qmos::CurrentThreadId(); }));
  std::atomic<qmos::ThreadId> newMain{0};
  std::thread host([&] {
    app_.SetMainThread();
    newMain = qmos::CurrentThreadId();
    PumpUntil([&] { return ranOn.load() != 0; });
  });
  host.join();
  EXPECT_EQ(ran.load(), 3);
  EXPECT_EQ(ranOn.load(), newMain.load());
  app_.SetMainThread();
}

}  // namespace
