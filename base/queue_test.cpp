#include "base/queue.h"

#include <gtest/gtest.h>

#include "tests/support/run_awaitable.h"

#include <string>
#include <thread>

namespace tarnvale_base::queue {
namespace {

using Clock = std::chrono::steady_clock;
using Queue = BoundedQueue<std::string>;

using tarnvale_testing::run_awaitable;

// Drains a queue until it closes, returning what it took.
asio::awaitable<std::vector<std::string>> drain(Queue::Receiver& rx) {
  std::vector<std::string> got;
  while (auto item = co_await rx.receive()) got.push_back(*item);
  co_return got;
}

TEST(BoundedQueue, NonWaitingSendFailsWhenFullAndHandsTheItemBack) {
  auto [tx, rx] = Queue::create(8);
  for (int i = 0; i < 8; ++i) EXPECT_FALSE(tx.try_send(std::to_string(i)));
  auto failed = tx.try_send("ninth");
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->reason, SendError::Full);
  EXPECT_EQ(failed->item, "ninth");
}

TEST(BoundedQueue, ClosesForTheConsumerOnlyAfterQueuedItemsAreTaken) {
  asio::io_context io;
  auto [tx, rx] = Queue::create(8);
  Queue::Sender second = tx;
  ASSERT_FALSE(tx.try_send("a"));
  ASSERT_FALSE(second.try_send("b"));
  tx.release();
  ASSERT_FALSE(second.try_send("c"));  // one sender left: still open
  second.release();
  EXPECT_EQ(run_awaitable(io, drain(rx)), (std::vector<std::string>{"a", "b", "c"}));
}

TEST(BoundedQueue, SendsFailOnceTheConsumerIsGone) {
  auto [tx, rx] = Queue::create(1);
  ASSERT_FALSE(tx.try_send("queued"));
  // Fill the queue, then block a waiting sender on another thread.
  std::optional<SendFailure<std::string>> blocked_result;
  std::thread blocked([&, &tx = tx] { blocked_result = tx.send("waiting"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let it block; not required
  rx.release();
  blocked.join();
  ASSERT_TRUE(blocked_result);
  EXPECT_EQ(blocked_result->reason, SendError::Closed);
  EXPECT_EQ(blocked_result->item, "waiting");
  auto after = tx.try_send("late");
  ASSERT_TRUE(after);
  EXPECT_EQ(after->reason, SendError::Closed);
}

TEST(BoundedQueue, PassedDeadlineComesBeforeQueuedItemsWhichAreKept) {
  asio::io_context io;
  auto [tx, rx] = Queue::create(8);
  EXPECT_EQ(run_awaitable(io, rx.next(Clock::now() + std::chrono::milliseconds(20))).index(), 2u);
  ASSERT_FALSE(tx.try_send("x"));
  EXPECT_EQ(run_awaitable(io, rx.next(Clock::now() - std::chrono::seconds(1))).index(), 2u);
  auto got = run_awaitable(io, rx.next(Clock::now() + std::chrono::seconds(60)));
  ASSERT_EQ(got.index(), 0u);
  EXPECT_EQ(std::get<0>(got), "x");
}

TEST(BoundedQueue, ConsumerWakesForAnItemSentFromAnotherThread) {
  asio::io_context io;
  auto [tx, rx] = Queue::create(8);
  std::thread producer([&, tx = std::move(tx)]() mutable {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(tx.send("late"));
  });
  auto got = run_awaitable(io, rx.next(Clock::now() + std::chrono::seconds(60)));
  producer.join();
  ASSERT_EQ(got.index(), 0u);
  EXPECT_EQ(std::get<0>(got), "late");
  EXPECT_EQ(run_awaitable(io, rx.next(Clock::now() + std::chrono::seconds(60))).index(),
            1u);  // Closed
}

TEST(UnboundedQueue, NeverFullClosesAfterDrainAndRefusesOnceReceiverIsGone) {
  auto [tx, rx] = UnboundedQueue<int>::create();
  for (int i = 0; i < 1000; ++i) ASSERT_FALSE(tx.try_send(i));
  tx.release();
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(rx.receive(), i);
  EXPECT_EQ(rx.receive(), std::nullopt);

  auto [tx2, rx2] = UnboundedQueue<int>::create();
  { auto gone = std::move(rx2); }
  auto failed = tx2.try_send(7);
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->reason, SendError::Closed);
}

}  // namespace
}  // namespace tarnvale_base::queue
