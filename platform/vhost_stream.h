// A capture stream as the virtual host runs it: the state behind one `SCStream` handle and its
// delivery thread (the stream's own serial queue). Not for use outside platform/.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/sc.h"
#include "platform/vhost.h"

namespace tarnvale_platform::vhost::detail {

struct StreamCore : std::enable_shared_from_this<StreamCore> {
  enum class Phase { Created, Starting, Running, Stopped, Dead };

  StreamCore(std::shared_ptr<VirtualHost> h, SCContentFilter f, SCStreamConfiguration c,
             std::weak_ptr<SCStreamDelegate> d)
      : host(std::move(h)), filter(std::move(f)), config(c), delegate(std::move(d)) {}

  // Stops delivery for good, lets go of the outputs and tells the delegate. False when the
  // stream was not running.
  bool die(std::string reason);
  // The handle is going away: stop delivery, wait for the delivery thread unless this is it, and
  // let go of the outputs.
  void release();
  void start(SCStream::CompletionHandler completion);
  void stop(SCStream::CompletionHandler completion);

  const std::shared_ptr<VirtualHost> host;
  const SCContentFilter filter;
  const SCStreamConfiguration config;
  const std::weak_ptr<SCStreamDelegate> delegate;

  std::mutex mu;  // guards everything below
  std::condition_variable wake;
  SCStream* handle = nullptr;
  std::vector<std::pair<std::shared_ptr<SCStreamOutput>, SCStreamOutputType>> outputs;
  Phase phase = Phase::Created;
  bool quit = false;
  std::thread thread;
  std::uint64_t lock_epoch = 0;

 private:
  void deliver_loop();
  // Moves the delivery thread out so it can be joined without holding `mu`.
  std::thread take_thread();
  void note_ended(bool was_running, bool died);
};

}  // namespace tarnvale_platform::vhost::detail
