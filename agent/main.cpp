// tarnvale-host-agent: the host agent process. Takes no arguments; reads the log filter from
// TARNVALE_LOG and the colour choice from NO_COLOR, then serves one session with the daemon and
// exits: status 0 after a session, 1 with "Error: <message>" on standard error when the session
// could not be established.
#include <pthread.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <future>
#include <string>
#include <thread>

#include "agent/imp.h"
#include "base/log.h"
#include "capture/mac.h"

namespace {

namespace log = tarnvale_base::log;
using tarnvale_base::Result;

// Ends the process without running static destructors: worker threads may still be using
// process-wide state, and pending runtime tasks are dropped, not awaited.
[[noreturn]] void finish(const Result<void>& result) {
  std::fflush(stdout);
  if (!result) {
    std::fprintf(stderr, "Error: %s\n", result.error().what().c_str());
    std::fflush(stderr);
    std::_Exit(1);
  }
  std::_Exit(0);
}

Result<void> serve() {
  // Creating the runtime can fail (no descriptors left, no epoll): report it like any other error.
  std::unique_ptr<asio::io_context> runtime;
  try {
    runtime = std::make_unique<asio::io_context>();
  } catch (const std::system_error& e) {
    return tarnvale_base::fail(tarnvale_base::Error(e.code()));
  }
  auto work = asio::make_work_guard(*runtime);
  const unsigned workers = std::max(2u, std::thread::hardware_concurrency());
  for (unsigned i = 0; i < workers; ++i) {
    std::thread worker([&io = *runtime] {
      pthread_setname_np(pthread_self(), "kt-runtime");
      io.run();
    });
    worker.detach();  // never joined: the process ends with std::_Exit
  }

  std::promise<Result<void>> done;
  asio::co_spawn(
      *runtime,
      [&done]() -> asio::awaitable<void> {
        done.set_value(co_await tarnvale_host_agent::imp::run());
      },
      [&done](std::exception_ptr e) {
        if (!e) return;
        try {
          std::rethrow_exception(e);
        } catch (const std::exception& ex) {
          done.set_value(tarnvale_base::fail(ex.what()));
        } catch (...) {
          done.set_value(tarnvale_base::fail("session driver failed"));
        }
      });
  Result<void> result = done.get_future().get();
  runtime->stop();
  // The runtime object is left alive on purpose: its threads may still be inside a handler.
  (void)runtime.release();
  return result;
}

}  // namespace

int main() {
  std::signal(SIGPIPE, SIG_IGN);
  const bool colour = log::colour_from_environment();
  log::install(log::Filter::from_environment(), colour);
  (void)tarnvale_capture::ensure_appkit_loaded();
  finish(serve());
}
