// Test support: runs one Asio coroutine to completion on the calling thread.
#pragma once

#include <asio.hpp>

#include <exception>
#include <optional>
#include <utility>

namespace tarnvale_testing {

// Runs `task` on `io` until it finishes and returns its value; an exception from the task is
// rethrown here, so a failing coroutine fails the test that ran it.
template <class T>
T run_awaitable(asio::io_context& io, asio::awaitable<T> task) {
  std::optional<T> out;
  asio::co_spawn(
      io, [&]() -> asio::awaitable<void> { out.emplace(co_await std::move(task)); },
      [](std::exception_ptr e) {
        if (e) std::rethrow_exception(e);
      });
  io.restart();
  io.run();
  return std::move(*out);
}

inline void run_awaitable(asio::io_context& io, asio::awaitable<void> task) {
  asio::co_spawn(io, std::move(task), [](std::exception_ptr e) {
    if (e) std::rethrow_exception(e);
  });
  io.restart();
  io.run();
}

}  // namespace tarnvale_testing
