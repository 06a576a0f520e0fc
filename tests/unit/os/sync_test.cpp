// Auto-reset events and re-entrant critical sections.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "qmos/critical_section.h"
#include "qmos/event.h"
#include "qmos/sleep.h"
#include "testsupport/wait.h"

using namespace qmos;
using testsupport::ElapsedMs;
using testsupport::WaitUntil;

TEST(Event, SetBeforeWaitIsRememberedAndConsumedByOneWait) {
  auto event = Event::Create();
  EXPECT_FALSE(event->IsSet());
  event->Set();
  event->Set();  // setting a set event does not count twice
  EXPECT_EQ(event->WaitFor(0), WaitResult::Signalled);
  EXPECT_EQ(event->WaitFor(0), WaitResult::Timeout);

  auto initially = Event::Create(true);
  EXPECT_EQ(initially->WaitFor(0), WaitResult::Signalled);
  EXPECT_FALSE(initially->IsSet());

  initially->Set();
  initially->Reset();
  EXPECT_EQ(initially->WaitFor(0), WaitResult::Timeout);
}

TEST(Event, TimeoutIsHonoured) {
  auto event = Event::Create();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(event->WaitFor(60), WaitResult::Timeout);
  const auto elapsed = ElapsedMs(start);
  EXPECT_GE(elapsed, 59);
  EXPECT_LT(elapsed, 5000);
}

TEST(Event, EachSetReleasesExactlyOneWaiter) {
  auto event = Event::Create();
  constexpr int kWaiters = 4;
  std::atomic<int> waiting{0};
  std::atomic<int> released{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kWaiters; ++i) {
    threads.emplace_back([&] {
      waiting.fetch_add(1);
      if (event->WaitFor(20000) == WaitResult::Signalled) released.fetch_add(1);
    });
  }
  ASSERT_TRUE(WaitUntil([&] { return waiting.load() == kWaiters; }));
  for (int round = 1; round <= kWaiters; ++round) {
    event->Set();
    ASSERT_TRUE(WaitUntil([&] { return released.load() >= round; }));
    // The signal was consumed: no second waiter may follow on the same Set.
    Sleep(20);
    EXPECT_EQ(released.load(), round);
    EXPECT_FALSE(event->IsSet());
  }
  for (auto& t : threads) t.join();
}

TEST(Event, PingPongLosesNoWakeUpAndSurvivesDroppedHandles) {
  auto ping = Event::Create();
  auto pong = Event::Create();
  constexpr int kRounds = 2000;
  std::atomic<int> timeouts{0};
  std::thread partner([ping, pong, &timeouts] {
    for (int i = 0; i < kRounds; ++i) {
      if (ping->WaitFor(10000) != WaitResult::Signalled) timeouts.fetch_add(1);
      pong->Set();
    }
  });
  std::weak_ptr<Event> watchPing = ping;
  for (int i = 0; i < kRounds; ++i) {
    ping->Set();
    if (pong->WaitFor(10000) != WaitResult::Signalled) timeouts.fetch_add(1);
  }
  // "Closing" our handles while the partner still holds its own is harmless.
  ping.reset();
  pong.reset();
  partner.join();
  EXPECT_EQ(timeouts.load(), 0);
  EXPECT_TRUE(watchPing.expired());
}

TEST(CriticalSection, IsReentrantAndExcludesOtherThreads) {
  CriticalSection section;
  section.Enter();
  EXPECT_TRUE(section.TryEnter());  // the owner may enter again
  EXPECT_TRUE(section.HeldByCurrentThread());

  auto otherTries = [&section] {
    bool got = false;
    std::thread([&] {
      got = section.TryEnter();
      if (got) section.Leave();
    }).join();
    return got;
  };
  EXPECT_FALSE(otherTries());
  EXPECT_TRUE(section.Leave());
  EXPECT_FALSE(otherTries());  // still held once
  EXPECT_TRUE(section.Leave());
  EXPECT_FALSE(section.HeldByCurrentThread());
  EXPECT_TRUE(otherTries());
}

TEST(CriticalSection, LeaveByAThreadThatDoesNotHoldItChangesNothing) {
  CriticalSection section;
  EXPECT_FALSE(section.Leave());
  section.Enter();
  bool left = true;
  std::thread([&] { left = section.Leave(); }).join();
  EXPECT_FALSE(left);
  EXPECT_TRUE(section.HeldByCurrentThread());
  EXPECT_TRUE(section.Leave());
  EXPECT_FALSE(section.Leave());
}

TEST(CriticalSection, NestedGuardsUnderContentionKeepCountsExact) {
  CriticalSection section;
  long counter = 0;  // deliberately not atomic: the section is what protects it
  constexpr int kThreads = 4;
  constexpr int kLoops = 5000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kLoops; ++i) {
        CriticalSectionGuard outer(section);
        const long before = counter;
        {
          CriticalSectionGuard inner(section);
          counter = before + 1;
        }
        if (i % 2 == 0 && section.TryEnter()) {
          ++counter;
          section.Leave();
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, static_cast<long>(kThreads) * kLoops * 3 / 2);
}
