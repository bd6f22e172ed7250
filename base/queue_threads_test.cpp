// Many producer threads against one consumer, for the ThreadSanitizer run.
#include "base/queue.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace tarnvale_base::queue {
namespace {

using Clock = std::chrono::steady_clock;

struct Item {
  int producer;
  int seq;
};

TEST(QueueThreads, EveryItemArrivesOnceInEachProducersOrderDespiteDeadlines) {
  constexpr int kProducers = 4, kPerProducer = 2000;
  asio::io_context io;
  auto [tx, rx] = BoundedQueue<Item>::create(8);
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([p, tx = tx]() mutable {
      for (int i = 0; i < kPerProducer; ++i) {
        // Mostly waiting sends; some non-waiting ones that retry when full.
        if (i % 5 == 0) {
          Item item{p, i};
          while (auto failed = tx.try_send(item)) {
            ASSERT_EQ(failed->reason, SendError::Full);
            std::this_thread::yield();
          }
        } else {
          ASSERT_FALSE(tx.send(Item{p, i}));
        }
      }
    });
  }
  tx.release();
  auto consume = [&rx = rx]() -> asio::awaitable<std::vector<int>> {
    std::vector<int> next_seq(kProducers, 0);
    int deadlines = 0;
    for (;;) {
      // Deadlines a few microseconds away race with arriving items all the time.
      auto got = co_await rx.next(Clock::now() + std::chrono::microseconds(50));
      if (got.index() == 1) break;
      if (got.index() == 2) {
        ++deadlines;
        continue;
      }
      Item item = std::get<0>(got);
      EXPECT_EQ(item.seq, next_seq[item.producer]) << "producer " << item.producer;
      next_seq[item.producer] = item.seq + 1;
    }
    (void)deadlines;
    co_return next_seq;
  };
  auto done = asio::co_spawn(asio::make_strand(io), consume(), asio::use_future);
  std::thread second_runtime_thread([&] { io.run(); });
  io.run();
  second_runtime_thread.join();
  for (auto& t : producers) t.join();
  EXPECT_EQ(done.get(), std::vector<int>(kProducers, kPerProducer));
}

TEST(QueueThreads, ReleasingTheConsumerUnblocksEveryWaitingProducer) {
  auto [tx, rx] = BoundedQueue<int>::create(2);
  std::vector<std::thread> producers;
  std::atomic<int> closed{0};
  for (int p = 0; p < 3; ++p) {
    producers.emplace_back([&, p, tx = tx]() mutable {
      for (;;) {
        if (auto failed = tx.send(p)) {
          EXPECT_EQ(failed->reason, SendError::Closed);
          ++closed;
          return;
        }
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  rx.release();
  for (auto& t : producers) t.join();
  EXPECT_EQ(closed.load(), 3);
}

TEST(QueueThreads, UnboundedConsumerThreadSeesEveryItemThenClose) {
  auto [tx, rx] = UnboundedQueue<Item>::create();
  std::vector<std::thread> producers;
  for (int p = 0; p < 3; ++p) {
    producers.emplace_back([p, tx = tx]() mutable {
      for (int i = 0; i < 3000; ++i) ASSERT_FALSE(tx.try_send(Item{p, i}));
    });
  }
  tx.release();
  std::thread consumer([rx = std::move(rx)]() mutable {
    std::vector<int> next_seq(3, 0);
    while (auto item = rx.receive()) {
      EXPECT_EQ(item->seq, next_seq[item->producer]);
      next_seq[item->producer] = item->seq + 1;
    }
    EXPECT_EQ(next_seq, std::vector<int>(3, 3000));
  });
  for (auto& t : producers) t.join();
  consumer.join();
}

}  // namespace
}  // namespace tarnvale_base::queue
