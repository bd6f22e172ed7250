// The controls shared between the inbound dispatch (which writes the viewer's choices), the
// capture-encode loop (which follows them) and the other workers (which watch `stop`).
//
// `CaptureLoopHandles` is a record of seven separately shared cells. The session driver creates
// one set per session; every user holds copies of the references it needs, and a cell lives until
// its last user lets go. Any thread may read or write any cell: the flags are relaxed atomics
// (each an independent setting, no ordering between them is relied on) and the optional values sit
// behind a mutex held only to copy or replace the value.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

namespace tarnvale_host_session::capture_loop {

// A monitor's rectangle in desktop coordinates.
struct MonitorRect {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;

  bool operator==(const MonitorRect&) const = default;
};

// An optional value shared between threads. The mutex is held only while the value is copied or
// replaced; no code path holds two cells at once.
template <class T>
class MutexCell {
 public:
  MutexCell() = default;
  explicit MutexCell(T initial) : value_(std::move(initial)) {}
  MutexCell(const MutexCell&) = delete;
  MutexCell& operator=(const MutexCell&) = delete;

  T get() const {
    std::lock_guard lock(mutex_);
    return value_;
  }
  void set(T value) {
    std::lock_guard lock(mutex_);
    value_ = std::move(value);
  }

 private:
  mutable std::mutex mutex_;
  T value_{};
};

// Output size requested by the viewer: (width, height); absent means the native size.
using CaptureScale = std::pair<std::uint32_t, std::uint32_t>;

struct CaptureLoopHandles {
  // Ask the encoder for a key frame; the loop takes and clears it with one swap.
  std::shared_ptr<std::atomic<bool>> force_keyframe;
  // `Quality` index: 0 low, 1 medium, 2 high (any other value counts as high).
  std::shared_ptr<std::atomic<std::uint8_t>> quality;
  // The monitor id the daemon asked for.
  std::shared_ptr<MutexCell<std::optional<std::string>>> selected_monitor;
  // Set once when the daemon link ends; every worker watches it.
  std::shared_ptr<std::atomic<bool>> stop;
  // The rectangle of the monitor being captured, when known.
  std::shared_ptr<MutexCell<std::optional<MonitorRect>>> active_monitor_rect;
  // Capture starts paused; nothing is encoded until the daemon resumes it.
  std::shared_ptr<std::atomic<bool>> paused;
  std::shared_ptr<MutexCell<std::optional<CaptureScale>>> capture_scale;

  // A new set with the session's initial values: no key frame asked, quality 2 (high), no monitor
  // chosen, not stopped, no rectangle, paused, native size.
  static CaptureLoopHandles create() {
    return CaptureLoopHandles{
        std::make_shared<std::atomic<bool>>(false),
        std::make_shared<std::atomic<std::uint8_t>>(std::uint8_t{2}),
        std::make_shared<MutexCell<std::optional<std::string>>>(),
        std::make_shared<std::atomic<bool>>(false),
        std::make_shared<MutexCell<std::optional<MonitorRect>>>(),
        std::make_shared<std::atomic<bool>>(true),
        std::make_shared<MutexCell<std::optional<CaptureScale>>>(),
    };
  }
};

}  // namespace tarnvale_host_session::capture_loop
