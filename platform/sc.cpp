// The capture framework as the virtual host serves it.
#include "platform/sc.h"

#include <pthread.h>

#include <algorithm>

#include "platform/vhost_state.h"
#include "platform/vhost_stream.h"

namespace tarnvale_platform {
namespace vd = vhost::detail;

namespace {

NSError stream_error(std::int64_t code, std::string description) {
  return NSError{std::string(kSCStreamErrorDomain), code, std::move(description)};
}

// Configurations the framework refuses to start with.
constexpr std::int64_t kMaxSide = 16384;

}  // namespace

void SCShareableContent::getShareableContentExcludingDesktopWindows(bool, bool,
                                                                    CompletionHandler completion) {
  auto host = vhost::VirtualHost::get();
  vd::run_on_framework_queue([host, completion = std::move(completion)] {
    std::optional<NSError> error;
    auto content = std::make_shared<SCShareableContent>();
    {
      auto& s = host->state();
      std::lock_guard lock(s.mu);
      ++s.stats.content_queries;
      s.bump();
      if (s.fail_content && s.fail_content_skip > 0) {
        --s.fail_content_skip;
      } else if (s.fail_content) {
        error = stream_error(SCStreamErrorInternalError, std::move(*s.fail_content));
        s.fail_content.reset();
      } else if (s.screen_recording) {
        // Without Screen Recording the content lists no displays.
        for (const auto& d : s.displays) {
          const auto& m = d.mode();
          SCDisplay out;
          out.displayID = d.layout.id;
          out.width = m.width;
          out.height = m.height;
          out.frame =
              CGRect{{double(d.layout.x), double(d.layout.y)}, {double(m.width), double(m.height)}};
          content->displays.push_back(out);
        }
      }
    }
    if (error) {
      completion(nullptr, std::move(error));
    } else {
      completion(std::move(content), std::nullopt);
    }
  });
}

// --- SCStream

SCStream::SCStream(std::shared_ptr<vd::StreamCore> core) : core_(std::move(core)) {}

std::shared_ptr<SCStream> SCStream::create(SCContentFilter filter,
                                           SCStreamConfiguration configuration,
                                           std::weak_ptr<SCStreamDelegate> delegate) {
  auto host = vhost::VirtualHost::get();
  auto core =
      std::make_shared<vd::StreamCore>(host, std::move(filter), configuration, std::move(delegate));
  std::shared_ptr<SCStream> stream(new SCStream(core));
  core->handle = stream.get();
  auto& s = host->state();
  std::lock_guard lock(s.mu);
  std::erase_if(s.streams, [](const auto& w) { return w.expired(); });
  s.streams.push_back(core);
  ++s.stats.streams_created;
  s.bump();
  return stream;
}

SCStream::~SCStream() {
  core_->release();
}

bool SCStream::addStreamOutput(std::shared_ptr<SCStreamOutput> output, SCStreamOutputType type,
                               NSError* error) {
  auto refuse = [&](std::string why) {
    if (error) *error = stream_error(SCStreamErrorInternalError, std::move(why));
    return false;
  };
  if (!output) return refuse("The stream output is missing");
  if (type == SCStreamOutputType::Audio && !core_->config.capturesAudio)
    return refuse("The stream does not capture audio");
  std::lock_guard lock(core_->mu);
  core_->outputs.emplace_back(std::move(output), type);
  return true;
}

void SCStream::startCapture(CompletionHandler completion) {
  core_->start(std::move(completion));
}

void SCStream::stopCapture(CompletionHandler completion) {
  core_->stop(std::move(completion));
}

// --- the stream as the host runs it

namespace vhost::detail {

std::thread StreamCore::take_thread() {
  return std::exchange(thread, std::thread());
}

void StreamCore::note_ended(bool was_running, bool died) {
  if (!was_running) return;
  auto& s = host->state();
  std::lock_guard lock(s.mu);
  if (s.stats.streams_live > 0) --s.stats.streams_live;
  if (died) ++s.stats.streams_died;
  s.bump();
}

void StreamCore::start(SCStream::CompletionHandler completion) {
  run_on_framework_queue([self = shared_from_this(), completion = std::move(completion)] {
    std::optional<NSError> error;
    std::uint64_t epoch = 0;
    {
      auto& s = self->host->state();
      std::lock_guard lock(s.mu);
      epoch = s.lock_epoch;
      if (s.fail_start) {
        error = stream_error(SCStreamErrorFailedToStart, std::move(*s.fail_start));
        s.fail_start.reset();
      } else if (!s.screen_recording) {
        error = stream_error(SCStreamErrorUserDeclined,
                             "The user declined TCCs for application, window, display capture");
      } else if (!s.find(self->filter.display.displayID)) {
        error = stream_error(SCStreamErrorNoDisplayList, "The display is not available");
      }
    }
    const auto& c = self->config;
    if (!error && (c.width <= 0 || c.height <= 0 || c.width > kMaxSide || c.height > kMaxSide ||
                   c.pixelFormat != kCVPixelFormatType_32BGRA)) {
      error = stream_error(SCStreamErrorFailedToStart, "The stream configuration is invalid");
    }
    if (!error) {
      std::lock_guard lock(self->mu);
      if (self->phase == Phase::Running) {
        error = stream_error(SCStreamErrorFailedToStart, "The stream is already running");
      } else if (self->phase == Phase::Dead || self->quit) {
        error = stream_error(SCStreamErrorFailedToStart, "The stream has ended");
      } else {
        self->phase = Phase::Running;
        self->lock_epoch = epoch;
        self->thread = std::thread([core = self] { core->deliver_loop(); });
      }
    }
    if (!error) {
      auto& s = self->host->state();
      std::lock_guard lock(s.mu);
      ++s.stats.streams_started;
      ++s.stats.streams_live;
      s.bump();
    }
    completion(std::move(error));
  });
}

void StreamCore::stop(SCStream::CompletionHandler completion) {
  run_on_framework_queue([self = shared_from_this(), completion = std::move(completion)] {
    std::thread t;
    {
      std::lock_guard lock(self->mu);
      if (self->phase != Phase::Running) {
        completion(stream_error(SCStreamErrorAttemptToStopStreamState,
                                "Failed due to attempting to stop a stream that is not running"));
        return;
      }
      self->phase = Phase::Stopped;
      self->quit = true;
      t = self->take_thread();
    }
    self->wake.notify_all();
    if (t.joinable()) t.join();  // never the delivery thread: this is the framework's thread
    {
      std::lock_guard lock(self->mu);
      self->quit = false;  // a stopped stream may be started again
    }
    {
      auto& s = self->host->state();
      std::lock_guard lock(s.mu);
      if (s.stats.streams_live > 0) --s.stats.streams_live;
      ++s.stats.streams_stopped;
      s.bump();
    }
    completion(std::nullopt);
  });
}

bool StreamCore::die(std::string reason) {
  std::vector<std::pair<std::shared_ptr<SCStreamOutput>, SCStreamOutputType>> outs;
  {
    std::lock_guard lock(mu);
    if (phase != Phase::Running) return false;
    phase = Phase::Dead;
    quit = true;
    outs = std::move(outputs);
    outputs.clear();
  }
  wake.notify_all();
  // The outputs go now; one that is in the middle of a delivery goes when that delivery returns.
  outs.clear();
  note_ended(true, true);
  run_on_framework_queue([self = shared_from_this(), reason = std::move(reason)] {
    auto d = self->delegate.lock();
    if (!d) return;
    std::lock_guard lock(self->mu);  // the handle stays while this is held
    if (!self->handle) return;
    d->didStopWithError(*self->handle, stream_error(SCStreamErrorInternalError, reason));
  });
  return true;
}

void StreamCore::release() {
  std::vector<std::pair<std::shared_ptr<SCStreamOutput>, SCStreamOutputType>> outs;
  std::thread t;
  bool was_running = false;
  {
    std::lock_guard lock(mu);
    was_running = phase == Phase::Running;
    phase = Phase::Dead;
    quit = true;
    handle = nullptr;
    outs = std::move(outputs);
    outputs.clear();
    t = take_thread();
  }
  wake.notify_all();
  if (t.joinable()) {
    if (t.get_id() == std::this_thread::get_id()) {
      t.detach();  // released from its own sample handler; the loop ends after the handler returns
    } else {
      t.join();
    }
  }
  outs.clear();
  note_ended(was_running, false);
}

void StreamCore::deliver_loop() {
  pthread_setname_np(pthread_self(), "kt-vhost-stream");
  using clock = std::chrono::steady_clock;
  std::vector<CVPixelBufferRef> pool;
  constexpr std::size_t kPoolSize = 4;
  Picture last;
  bool delivered_image = false;
  auto next = clock::now();
  const auto display_id = filter.display.displayID;
  std::chrono::nanoseconds min_interval{0};
  if (config.minimumFrameInterval.timescale > 0 && config.minimumFrameInterval.value > 0) {
    min_interval = std::chrono::nanoseconds(config.minimumFrameInterval.value * 1'000'000'000 /
                                            config.minimumFrameInterval.timescale);
  }

  for (;;) {
    {
      std::unique_lock lock(mu);
      wake.wait_until(lock, next, [&] { return quit; });
      if (quit) break;
    }
    // What the display shows now.
    std::optional<Picture> pic;
    bool frozen = false;
    std::optional<CVReturn> lock_failure;
    {
      auto& s = host->state();
      std::lock_guard lock(s.mu);
      if (auto* d = s.find(display_id)) {
        Picture p;
        const auto& m = d->mode();
        p.width = m.width;
        p.height = m.height;
        p.refresh = m.refresh_rate > 0 ? m.refresh_rate : 60;
        p.content = d->layout.content;
        p.version = d->content_version;
        p.locked = s.locked;
        if (p.content == Content::Moving && !p.locked) {
          auto age = clock::now() - d->epoch;
          p.frame_index =
              static_cast<std::uint64_t>(std::chrono::duration<double>(age).count() * p.refresh);
        }
        p.pixels = d->pixels;
        p.pixels_width = d->pixels_width;
        p.pixels_height = d->pixels_height;
        pic = std::move(p);
        // A lock or unlock freezes streams started before it: they see nothing new until the
        // consumer builds a new stream.
        frozen = s.lock_epoch != lock_epoch;
      }
    }
    if (!pic) {
      die("the display is no longer available");
      break;
    }
    auto interval = std::max<std::chrono::nanoseconds>(
        min_interval, std::chrono::nanoseconds(static_cast<std::int64_t>(1e9 / pic->refresh)));

    CMSampleBuffer sample;
    const bool image = !frozen && (!delivered_image || !pic->same_as(last));
    if (image) {
      CVPixelBufferRef buf;
      for (auto& b : pool) {
        if (b.use_count() == 1) {
          buf = b;
          break;
        }
      }
      if (!buf) {
        buf = std::make_shared<CVPixelBuffer>(static_cast<std::size_t>(config.width),
                                              static_cast<std::size_t>(config.height),
                                              kCVPixelFormatType_32BGRA);
        if (pool.size() < kPoolSize) pool.push_back(buf);
      }
      render(*pic, *buf);
      {
        auto& s = host->state();
        std::lock_guard lock(s.mu);
        lock_failure = std::exchange(s.fail_lock, std::nullopt);
      }
      if (lock_failure) buf->fail_next_lock(*lock_failure);
      sample = CMSampleBuffer::with_image(buf);
      last = *pic;
      delivered_image = true;
    }

    // Deliver to each screen output, checking between outputs that the stream still runs.
    std::size_t index = 0;
    bool ended = false;
    for (;;) {
      std::shared_ptr<SCStreamOutput> out;
      SCStream* h = nullptr;
      {
        std::lock_guard lock(mu);
        if (quit) {
          ended = true;
          break;
        }
        while (index < outputs.size() && outputs[index].second != SCStreamOutputType::Screen)
          ++index;
        if (index >= outputs.size()) break;
        out = outputs[index++].first;
        h = handle;
      }
      if (h) out->didOutputSampleBuffer(*h, sample, SCStreamOutputType::Screen);
    }
    {
      auto& s = host->state();
      std::lock_guard lock(s.mu);
      ++(image ? s.stats.image_deliveries : s.stats.idle_deliveries);
      s.bump();
    }
    if (ended) break;

    next += interval;
    auto now = clock::now();
    if (next < now) next = now + interval;
  }
}

}  // namespace vhost::detail
}  // namespace tarnvale_platform
