// The queues that connect the agent's threads and tasks.
//
// `BoundedQueue<T>`: many producers (plain threads and the session driver) and one consumer, a
// coroutine. Producers either wait for room (`send`) or give up at once (`try_send`). The consumer
// waits for the next item or a deadline, whichever comes first, without ever losing an item to the
// deadline and without a busy queue starving the deadline. The queue closes for the consumer when
// the last `Sender` is gone and every queued item has been taken, and for the producers when the
// `Receiver` is gone: a waiting `send` then fails instead of hanging.
//
// `UnboundedQueue<T>`: many producers whose sends never wait, one consumer thread that blocks.
// It closes for the consumer when the last sender is gone and the queue is drained, and for the
// producers when the receiver is gone.
//
// Senders are copyable (each copy counts as a producer); receivers are move-only. Every end may be
// used from any thread; one end object is used by one thread at a time.
#pragma once

#include <asio.hpp>
#include <asio/experimental/as_tuple.hpp>
#include <asio/experimental/awaitable_operators.hpp>
#include <asio/experimental/concurrent_channel.hpp>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <variant>

namespace tarnvale_base::queue {

// Why a send did not go through; the item is handed back to the caller.
enum class SendError { Full, Closed };

template <class T>
struct SendFailure {
  SendError reason;
  T item;
};

namespace detail {

// Wakes a consumer coroutine. It carries no data, so a ring that is consumed and then ignored
// (the deadline won the race) loses nothing: the consumer always re-checks the items itself.
using Doorbell = asio::experimental::concurrent_channel<void(std::error_code, bool)>;

template <class T>
struct State {
  explicit State(std::size_t cap) : capacity(cap) {}

  std::mutex mutex;
  std::condition_variable changed;  // room for waiting senders, items for a blocking receiver
  std::deque<T> items;
  std::size_t capacity;  // 0: unbounded
  std::size_t senders = 1;
  bool receiver_alive = true;
  std::shared_ptr<Doorbell> doorbell;  // set while a coroutine consumer exists

  // Tells waiting senders and the consumer that something changed. Called with `mutex` held, so
  // the doorbell is never used after the receiver has let go of it.
  void ring() {
    changed.notify_all();
    if (doorbell) doorbell->try_send(std::error_code{}, true);
  }
};

template <class T>
class SenderBase {
 public:
  explicit SenderBase(std::shared_ptr<State<T>> state) : state_(std::move(state)) {}
  SenderBase(const SenderBase& other) : state_(other.state_) {
    if (state_) {
      std::lock_guard lock(state_->mutex);
      ++state_->senders;
    }
  }
  SenderBase(SenderBase&& other) noexcept = default;
  SenderBase& operator=(SenderBase other) noexcept {
    std::swap(state_, other.state_);
    return *this;
  }
  ~SenderBase() { release(); }

  // Gives up this producer's end; the last release closes the queue for the consumer.
  void release() {
    if (!state_) return;
    {
      std::lock_guard lock(state_->mutex);
      --state_->senders;
      state_->ring();
    }
    state_.reset();  // after unlocking: this may be the last reference to the mutex
  }

  // Queues `item` unless the queue is full or the consumer is gone; never waits.
  std::optional<SendFailure<T>> try_send(T item) {
    if (!state_) return SendFailure<T>{SendError::Closed, std::move(item)};
    std::unique_lock lock(state_->mutex);
    if (!state_->receiver_alive) return SendFailure<T>{SendError::Closed, std::move(item)};
    if (state_->capacity != 0 && state_->items.size() >= state_->capacity) {
      return SendFailure<T>{SendError::Full, std::move(item)};
    }
    state_->items.push_back(std::move(item));
    state_->ring();
    return std::nullopt;
  }

 protected:
  std::shared_ptr<State<T>> state_;
};

}  // namespace detail

// What a consumer gets: an item, the end of the queue, or its deadline.
struct Closed {};
struct DeadlineReached {};

template <class T>
class BoundedQueue {
 public:
  class Sender : public detail::SenderBase<T> {
   public:
    using detail::SenderBase<T>::SenderBase;

    // Waits for room, then queues `item`. Fails with Closed when the consumer is gone (also while
    // waiting). For plain threads: it blocks the calling thread.
    std::optional<SendFailure<T>> send(T item) {
      auto& s = this->state_;
      if (!s) return SendFailure<T>{SendError::Closed, std::move(item)};
      std::unique_lock lock(s->mutex);
      s->changed.wait(lock, [&] { return !s->receiver_alive || s->items.size() < s->capacity; });
      if (!s->receiver_alive) return SendFailure<T>{SendError::Closed, std::move(item)};
      s->items.push_back(std::move(item));
      s->ring();
      return std::nullopt;
    }
  };

  class Receiver {
   public:
    explicit Receiver(std::shared_ptr<detail::State<T>> state) : state_(std::move(state)) {}
    Receiver(Receiver&&) noexcept = default;
    Receiver& operator=(Receiver&&) = delete;
    ~Receiver() { release(); }

    // Gives up the consumer's end: queued items are dropped and every send fails from now on.
    void release() {
      if (!state_) return;
      std::deque<T> dropped;
      {
        std::unique_lock lock(state_->mutex);
        state_->receiver_alive = false;
        dropped.swap(state_->items);
        state_->doorbell.reset();
        state_->ring();
      }
      state_.reset();
    }

    // Takes the next item, waiting until one arrives, the queue closes, or `deadline` passes.
    // A deadline already passed is reported first; queued items come before the close. Runs on
    // the calling coroutine's executor.
    using Next = std::variant<T, Closed, DeadlineReached>;
    asio::awaitable<Next> next(std::chrono::steady_clock::time_point deadline) {
      using namespace asio::experimental::awaitable_operators;
      auto executor = co_await asio::this_coro::executor;
      std::shared_ptr<detail::Doorbell> bell;
      {
        std::lock_guard lock(state_->mutex);
        if (!state_->doorbell) state_->doorbell = std::make_shared<detail::Doorbell>(executor, 1);
        bell = state_->doorbell;
      }
      asio::steady_timer timer(executor);
      constexpr auto kTuple = asio::experimental::as_tuple(asio::use_awaitable);
      for (;;) {
        // A deadline that has passed wins over queued items, so a busy queue cannot starve a
        // periodic consumer task; items still come out in order on the next call.
        if (std::chrono::steady_clock::now() >= deadline) co_return Next(std::in_place_index<2>);
        {
          std::unique_lock lock(state_->mutex);
          if (!state_->items.empty()) {
            T item = std::move(state_->items.front());
            state_->items.pop_front();
            state_->ring();  // room for a waiting sender
            co_return Next(std::in_place_index<0>, std::move(item));
          }
          if (state_->senders == 0) co_return Next(std::in_place_index<1>);
        }
        timer.expires_at(deadline);
        co_await (bell->async_receive(kTuple) || timer.async_wait(kTuple));
      }
    }

    // Takes the next item, or nullopt once the queue is closed and empty.
    asio::awaitable<std::optional<T>> receive() {
      auto got = co_await next(std::chrono::steady_clock::time_point::max());
      if (auto* item = std::get_if<0>(&got)) co_return std::move(*item);
      co_return std::nullopt;
    }

   private:
    std::shared_ptr<detail::State<T>> state_;
  };

  // One sender and the receiver of a new queue holding at most `capacity` items (at least 1).
  static std::pair<Sender, Receiver> create(std::size_t capacity) {
    auto state = std::make_shared<detail::State<T>>(capacity == 0 ? 1 : capacity);
    return {Sender(state), Receiver(state)};
  }
};

template <class T>
class UnboundedQueue {
 public:
  using Sender = detail::SenderBase<T>;  // `try_send` never meets Full here

  class Receiver {
   public:
    explicit Receiver(std::shared_ptr<detail::State<T>> state) : state_(std::move(state)) {}
    Receiver(Receiver&&) noexcept = default;
    Receiver& operator=(Receiver&&) = delete;
    ~Receiver() {
      if (!state_) return;
      std::lock_guard lock(state_->mutex);
      state_->receiver_alive = false;
      state_->items.clear();
    }

    // Blocks until the next item arrives; nullopt once every sender is gone and the queue is empty.
    std::optional<T> receive() {
      std::unique_lock lock(state_->mutex);
      state_->changed.wait(lock, [&] { return !state_->items.empty() || state_->senders == 0; });
      if (state_->items.empty()) return std::nullopt;
      T item = std::move(state_->items.front());
      state_->items.pop_front();
      return item;
    }

   private:
    std::shared_ptr<detail::State<T>> state_;
  };

  static std::pair<Sender, Receiver> create() {
    auto state = std::make_shared<detail::State<T>>(0);
    return {Sender(state), Receiver(state)};
  }
};

}  // namespace tarnvale_base::queue
