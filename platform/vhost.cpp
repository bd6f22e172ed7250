#include "platform/vhost.h"

#include <pthread.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>

#include "base/log.h"
#include "platform/vhost_state.h"
#include "platform/vhost_stream.h"

namespace tarnvale_platform::vhost {
namespace {

constexpr std::string_view kTarget = "tarnvale_platform::vhost";

std::string fmt_display(CGDirectDisplayID id) {
  return "display " + std::to_string(id);
}

void fill_mode_owners(DisplayLayout& layout) {
  for (std::size_t i = 0; i < layout.modes.size(); ++i) {
    layout.modes[i].display = layout.id;
    layout.modes[i].io_mode_id = static_cast<std::uint32_t>(i);
  }
}

tarnvale_base::Result<void> check_display(const DisplayLayout& layout) {
  if (layout.id == 0) return tarnvale_base::fail("display id 0 is not a display");
  if (layout.modes.empty()) return tarnvale_base::fail(fmt_display(layout.id) + " has no modes");
  if (layout.current_mode >= layout.modes.size())
    return tarnvale_base::fail(fmt_display(layout.id) + ": current mode out of range");
  for (const auto& m : layout.modes) {
    if (m.width == 0 || m.height == 0 || m.pixel_width == 0 || m.pixel_height == 0)
      return tarnvale_base::fail(fmt_display(layout.id) + ": a mode has a zero size");
  }
  return {};
}

detail::DisplayState make_display_state(DisplayLayout layout) {
  fill_mode_owners(layout);
  detail::DisplayState d;
  d.layout = std::move(layout);
  d.epoch = std::chrono::steady_clock::now();
  return d;
}

struct Global {
  std::mutex mu;
  std::shared_ptr<VirtualHost> host;
  std::FILE* journal_file = nullptr;  // TARNVALE_VHOST_JOURNAL, opened with the first host
  std::mutex journal_mu;              // one line at a time
};
Global& global() {
  static Global* g = new Global();  // never destroyed: streams may outlive static destruction
  return *g;
}

// The framework's completion thread: one serial queue for the whole process, never destroyed.
class FrameworkQueue {
 public:
  FrameworkQueue() {
    std::thread([this] { run(); }).detach();
  }
  void post(std::function<void()> task) {
    {
      std::lock_guard lock(mu_);
      tasks_.push_back(std::move(task));
    }
    cv_.notify_one();
  }

 private:
  void run() {
    pthread_setname_np(pthread_self(), "kt-vhost-sc");
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock lock(mu_);
        cv_.wait(lock, [&] { return !tasks_.empty(); });
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
    }
  }
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> tasks_;
};

}  // namespace

namespace detail {
void State::journal_append(nlohmann::json entry) {
  auto& g = global();
  if (g.journal_file) {
    std::lock_guard lock(g.journal_mu);
    const std::string line = entry.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::fprintf(g.journal_file, "%s\n", line.c_str());
    std::fflush(g.journal_file);
  }
  journal.push_back(std::move(entry));
  bump();
}

void run_on_framework_queue(std::function<void()> task) {
  static FrameworkQueue* queue = new FrameworkQueue();
  queue->post(std::move(task));
}
}  // namespace detail

CGDisplayMode make_mode(std::uint32_t width, std::uint32_t height, double refresh) {
  CGDisplayMode m;
  m.width = width;
  m.height = height;
  m.pixel_width = width;
  m.pixel_height = height;
  m.refresh_rate = refresh;
  return m;
}

CGDisplayMode make_scaled_mode(std::uint32_t width, std::uint32_t height, std::uint32_t scale,
                               double refresh) {
  CGDisplayMode m = make_mode(width, height, refresh);
  m.pixel_width = width * scale;
  m.pixel_height = height * scale;
  m.low_resolution_duplicate = true;
  return m;
}

Scenario Scenario::default_scenario() {
  Scenario s;
  DisplayLayout d;
  d.id = 1;
  d.modes = {make_mode(1920, 1080, 60),
             make_mode(1920, 1080, 30),
             make_scaled_mode(2560, 1440, 1, 60),
             make_scaled_mode(1920, 1080, 2, 60),
             make_mode(1280, 720, 60),
             make_mode(1024, 768, 60)};
  d.current_mode = 0;
  s.displays.push_back(std::move(d));
  return s;
}

std::shared_ptr<VirtualHost> VirtualHost::get() {
  auto& g = global();
  bool first = false;
  std::shared_ptr<VirtualHost> host;
  {
    std::lock_guard lock(g.mu);
    if (!g.host) {
      Scenario scenario = Scenario::default_scenario();
      if (const char* path = std::getenv("TARNVALE_VHOST"); path && *path) {
        if (auto loaded = Scenario::load(path)) {
          scenario = std::move(*loaded);
          tarnvale_base::log::info(kTarget, "virtual host scenario loaded",
                                   {{"path", path}, {"displays", scenario.displays.size()}});
        } else {
          tarnvale_base::log::error(kTarget, "virtual host scenario rejected; using the default",
                                    {{"path", path}, {"error", loaded.error()}});
        }
      }
      g.host = std::make_shared<VirtualHost>(std::move(scenario));
      first = true;
      if (const char* path = std::getenv("TARNVALE_VHOST_JOURNAL"); path && *path) {
        g.journal_file = std::fopen(path, "a");
        if (!g.journal_file) {
          tarnvale_base::log::error(kTarget, "virtual host journal file cannot be opened",
                                    {{"path", path}, {"error", tarnvale_base::errno_error(errno)}});
        }
      }
    }
    host = g.host;
  }
  if (first) {
    if (const char* path = std::getenv("TARNVALE_VHOST_CONTROL"); path && *path) {
      if (auto started = start_control_server(path); !started) {
        tarnvale_base::log::error(kTarget, "virtual host control socket failed",
                                  {{"path", path}, {"error", started.error()}});
      }
    }
  }
  return host;
}

std::shared_ptr<VirtualHost> VirtualHost::reset(Scenario scenario) {
  auto fresh = std::make_shared<VirtualHost>(std::move(scenario));
  std::shared_ptr<VirtualHost> old;
  {
    auto& g = global();
    std::lock_guard lock(g.mu);
    old = std::exchange(g.host, fresh);
  }
  // `old` is released here, outside the lock; streams made on it keep it alive.
  return fresh;
}

VirtualHost::VirtualHost(Scenario scenario) : state_(std::make_unique<detail::State>()) {
  auto& s = *state_;
  s.screen_recording = scenario.screen_recording;
  s.accessibility = scenario.accessibility;
  s.locked = scenario.locked;
  s.in_session = scenario.in_session;
  for (auto& d : scenario.displays) {
    if (auto ok = check_display(d); !ok) {
      tarnvale_base::log::error(kTarget, "virtual display skipped", {{"error", ok.error()}});
      continue;
    }
    if (s.find(d.id)) {
      tarnvale_base::log::error(kTarget, "virtual display skipped",
                                {{"error", fmt_display(d.id) + " is listed twice"}});
      continue;
    }
    s.displays.push_back(make_display_state(std::move(d)));
  }
}

VirtualHost::~VirtualHost() = default;

void VirtualHost::set_screen_recording(bool granted) {
  std::lock_guard lock(state_->mu);
  state_->screen_recording = granted;
}
void VirtualHost::set_accessibility(bool granted) {
  std::lock_guard lock(state_->mu);
  state_->accessibility = granted;
}
bool VirtualHost::screen_recording() const {
  std::lock_guard lock(state_->mu);
  return state_->screen_recording;
}
bool VirtualHost::accessibility() const {
  std::lock_guard lock(state_->mu);
  return state_->accessibility;
}
void VirtualHost::set_locked(bool locked) {
  std::lock_guard lock(state_->mu);
  if (state_->locked != locked) {
    state_->locked = locked;
    ++state_->lock_epoch;
    for (auto& d : state_->displays) ++d.content_version;
  }
  state_->bump();
}
bool VirtualHost::locked() const {
  std::lock_guard lock(state_->mu);
  return state_->locked;
}
void VirtualHost::set_in_session(bool in_session) {
  std::lock_guard lock(state_->mu);
  state_->in_session = in_session;
}

tarnvale_base::Result<void> VirtualHost::add_display(DisplayLayout display) {
  if (auto ok = check_display(display); !ok) return ok;
  std::lock_guard lock(state_->mu);
  if (state_->find(display.id))
    return tarnvale_base::fail(fmt_display(display.id) + " already exists");
  state_->displays.push_back(make_display_state(std::move(display)));
  state_->bump();
  return {};
}

tarnvale_base::Result<void> VirtualHost::remove_display(CGDirectDisplayID id) {
  {
    std::lock_guard lock(state_->mu);
    auto& ds = state_->displays;
    auto it = std::find_if(ds.begin(), ds.end(), [&](auto& d) { return d.layout.id == id; });
    if (it == ds.end()) return tarnvale_base::fail("no " + fmt_display(id));
    ds.erase(it);
    state_->bump();
  }
  // Streams of the removed display notice on their next tick and die.
  return {};
}

std::vector<DisplayLayout> VirtualHost::displays() const {
  std::lock_guard lock(state_->mu);
  std::vector<DisplayLayout> out;
  for (const auto& d : state_->displays) out.push_back(d.layout);
  return out;
}

std::optional<DisplayLayout> VirtualHost::display(CGDirectDisplayID id) const {
  std::lock_guard lock(state_->mu);
  if (auto* d = state_->find(id)) return d->layout;
  return std::nullopt;
}

tarnvale_base::Result<void> VirtualHost::set_content(CGDirectDisplayID id, Content content) {
  std::lock_guard lock(state_->mu);
  auto* d = state_->find(id);
  if (!d) return tarnvale_base::fail("no " + fmt_display(id));
  if (content == Content::Pixels && !d->pixels)
    return tarnvale_base::fail(fmt_display(id) + " has no pixels set");
  d->layout.content = content;
  ++d->content_version;
  state_->bump();
  return {};
}

tarnvale_base::Result<void> VirtualHost::set_pixels(CGDirectDisplayID id, std::uint32_t width,
                                                    std::uint32_t height,
                                                    std::vector<std::uint8_t> bgra) {
  if (width == 0 || height == 0) return tarnvale_base::fail("an image needs a non-zero size");
  if (bgra.size() != std::size_t{width} * height * 4)
    return tarnvale_base::fail("image bytes do not match width * height * 4");
  auto pixels = std::make_shared<const std::vector<std::uint8_t>>(std::move(bgra));
  std::lock_guard lock(state_->mu);
  auto* d = state_->find(id);
  if (!d) return tarnvale_base::fail("no " + fmt_display(id));
  d->pixels = std::move(pixels);
  d->pixels_width = width;
  d->pixels_height = height;
  d->layout.content = Content::Pixels;
  ++d->content_version;
  state_->bump();
  return {};
}

tarnvale_base::Result<void> VirtualHost::set_solid(CGDirectDisplayID id, std::uint8_t b,
                                                   std::uint8_t g, std::uint8_t r, std::uint8_t a) {
  // A small image is enough: it is scaled to the display.
  constexpr std::uint32_t kSide = 4;
  std::vector<std::uint8_t> px(kSide * kSide * 4);
  for (std::size_t i = 0; i < px.size(); i += 4) {
    px[i] = b;
    px[i + 1] = g;
    px[i + 2] = r;
    px[i + 3] = a;
  }
  return set_pixels(id, kSide, kSide, std::move(px));
}

void VirtualHost::fail_next_content_query(std::string description, std::size_t skip) {
  std::lock_guard lock(state_->mu);
  state_->fail_content = std::move(description);
  state_->fail_content_skip = skip;
}
void VirtualHost::fail_next_stream_start(std::string description) {
  std::lock_guard lock(state_->mu);
  state_->fail_start = std::move(description);
}
void VirtualHost::fail_next_set_display_mode(CGError error) {
  std::lock_guard lock(state_->mu);
  state_->fail_mode = error;
}
void VirtualHost::fail_next_pixel_lock(CVReturn status) {
  std::lock_guard lock(state_->mu);
  state_->fail_lock = status;
}

std::size_t VirtualHost::kill_streams() {
  std::vector<std::shared_ptr<detail::StreamCore>> live;
  {
    std::lock_guard lock(state_->mu);
    for (auto& w : state_->streams)
      if (auto s = w.lock()) live.push_back(std::move(s));
  }
  std::size_t died = 0;
  for (auto& s : live) {
    if (s->die("the stream was stopped by the system")) ++died;
  }
  return died;
}

Stats VirtualHost::stats() const {
  std::lock_guard lock(state_->mu);
  return state_->stats;
}

bool VirtualHost::wait_for(const std::function<bool(const Stats&)>& pred,
                           std::chrono::milliseconds timeout) const {
  std::unique_lock lock(state_->mu);
  return state_->changed.wait_for(lock, timeout, [&] { return pred(state_->stats); });
}

std::vector<nlohmann::json> VirtualHost::journal() const {
  std::lock_guard lock(state_->mu);
  return state_->journal;
}

void VirtualHost::record(nlohmann::json entry) {
  std::lock_guard lock(state_->mu);
  state_->journal_append(std::move(entry));
  state_->bump();
}

void VirtualHost::clear_journal() {
  std::lock_guard lock(state_->mu);
  state_->journal.clear();
}

}  // namespace tarnvale_platform::vhost
