// The host's displays as the viewer sees them: `enumerate_monitors` builds the monitor list with
// the sizes each display offers, and `display_mode::set_display_resolution` switches a display to
// one of them and puts the earlier mode back on request. Any thread may call these.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/error.h"
#include "platform/cg_display.h"
#include "proto/monitor.h"

namespace tarnvale_capture {

// One entry per display, in the capture service's order: id in decimal, "Display N", the size
// the service reports, the first entry primary, none selected, and the distinct mode sizes
// largest first. No displays (or no Screen Recording permission) give an empty list.
tarnvale_base::Result<std::vector<tarnvale_proto::MonitorInfo>> enumerate_monitors();

// The distinct non-zero (width, height) pairs of `modes`, largest area first, wider first for
// equal areas, otherwise in the given order.
std::vector<tarnvale_proto::MonitorMode> distinct_sorted_modes(
    const std::vector<tarnvale_platform::CGDisplayModeRef>& modes);

namespace display_mode {

// The mode in force before the first change since the last restore, with its display.
struct SavedMode {
  std::mutex mutex;
  std::optional<
      std::pair<tarnvale_platform::CGDirectDisplayID, tarnvale_platform::CGDisplayModeRef>>
      cell;
};
extern SavedMode ORIGINAL;

// Switches the display `monitor_id` (decimal id, surrounding spaces allowed; none, unreadable or
// "0": the main display) to the first mode of exactly `width` x `height` and returns that size.
// Both 0 put back the mode saved before the first change (on the display it was saved for) and
// return its size, or, with nothing saved, return the current size without switching.
tarnvale_base::Result<std::pair<std::uint32_t, std::uint32_t>> set_display_resolution(
    std::optional<std::string> monitor_id, std::uint32_t width, std::uint32_t height);

}  // namespace display_mode
}  // namespace tarnvale_capture
