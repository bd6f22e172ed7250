// The virtual host's state as the seam's own implementation sees it. Not for use outside
// platform/: tests and the program go through vhost.h.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/vhost.h"

namespace tarnvale_platform::vhost::detail {

struct DisplayState {
  DisplayLayout layout;
  std::uint64_t content_version = 0;  // bumped on every change of what the display shows
  std::shared_ptr<const std::vector<std::uint8_t>> pixels;  // for Content::Pixels
  std::uint32_t pixels_width = 0;
  std::uint32_t pixels_height = 0;
  std::chrono::steady_clock::time_point epoch;  // frame 0 of the moving picture

  const CGDisplayMode& mode() const { return layout.modes[layout.current_mode]; }
};

// What a display shows at one moment, copied out of the host so that it can be drawn without
// the host's lock.
struct Picture {
  std::uint32_t width = 0;  // display size in points
  std::uint32_t height = 0;
  double refresh = 60;
  Content content = Content::Moving;
  std::uint64_t version = 0;
  std::uint64_t frame_index = 0;  // moving picture only; 0 otherwise
  bool locked = false;
  std::shared_ptr<const std::vector<std::uint8_t>> pixels;
  std::uint32_t pixels_width = 0;
  std::uint32_t pixels_height = 0;

  // Two pictures with the same key look the same.
  bool same_as(const Picture& o) const {
    return width == o.width && height == o.height && content == o.content && version == o.version &&
           frame_index == o.frame_index && locked == o.locked;
  }
};

// Draws `picture` into `out`, scaled to the buffer's size.
void render(const Picture& picture, CVPixelBuffer& out);

struct StreamCore;

struct State {
  mutable std::mutex mu;
  mutable std::condition_variable changed;  // notified on every change of `stats`

  bool screen_recording = true;
  bool accessibility = true;
  bool locked = false;
  bool in_session = true;
  std::uint64_t lock_epoch = 0;  // bumped on every lock change
  std::vector<DisplayState> displays;

  std::optional<std::string> fail_content;
  std::size_t fail_content_skip = 0;
  std::optional<std::string> fail_start;
  std::optional<CGError> fail_mode;
  std::optional<CVReturn> fail_lock;

  Stats stats;
  std::vector<nlohmann::json> journal;
  std::vector<std::weak_ptr<StreamCore>> streams;

  DisplayState* find(CGDirectDisplayID id) {
    for (auto& d : displays)
      if (d.layout.id == id) return &d;
    return nullptr;
  }
  // Call with `mu` held; wakes waiters.
  void bump() { changed.notify_all(); }
  // Call with `mu` held: adds a journal entry (and writes it to the journal file, if any).
  void journal_append(nlohmann::json entry);
};

// Runs `task` on the framework's completion thread (one process-wide serial thread), never on
// the caller's.
void run_on_framework_queue(std::function<void()> task);

}  // namespace tarnvale_platform::vhost::detail
