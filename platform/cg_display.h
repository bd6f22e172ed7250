// CoreGraphics display configuration: the main display, display bounds and display modes. Same
// contracts as the macOS calls of these names; any thread may call them. Display modes are
// reference-counted, immutable values: a `CGDisplayModeRef` is one reference (copying it retains,
// destroying or `CGDisplayModeRelease` releases), so no path needs a hand-written release.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace tarnvale_platform {

using CGDirectDisplayID = std::uint32_t;
using CGError = std::int32_t;

// The CGError values the display calls return.
inline constexpr CGError kCGErrorSuccess = 0;
inline constexpr CGError kCGErrorFailure = 1000;
inline constexpr CGError kCGErrorIllegalArgument = 1001;
inline constexpr CGError kCGErrorInvalidConnection = 1002;
inline constexpr CGError kCGErrorCannotComplete = 1004;
inline constexpr CGError kCGErrorNotImplemented = 1006;
inline constexpr CGError kCGErrorRangeCheck = 1007;
inline constexpr CGError kCGErrorTypeCheck = 1008;
inline constexpr CGError kCGErrorInvalidOperation = 1010;
inline constexpr CGError kCGErrorNoneAvailable = 1011;

struct CGPoint {
  double x = 0;
  double y = 0;
};
struct CGSize {
  double width = 0;
  double height = 0;
};
struct CGRect {
  CGPoint origin;
  CGSize size;
  bool operator==(const CGRect& o) const {
    return origin.x == o.origin.x && origin.y == o.origin.y && size.width == o.size.width &&
           size.height == o.size.height;
  }
};

// One display mode. `width`/`height` are in points (what the desktop is laid out in),
// `pixel_width`/`pixel_height` the size of the backing framebuffer; a scaled (HiDPI) mode has
// more pixels than points. `low_resolution_duplicate` marks a mode that repeats another mode's
// point size at another pixel scale; such modes are listed only when asked for.
struct CGDisplayMode {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t pixel_width = 0;
  std::uint32_t pixel_height = 0;
  double refresh_rate = 0;  // Hz; 0 when the display does not say
  bool low_resolution_duplicate = false;
  // Which display this mode belongs to, and its index in that display's mode list.
  CGDirectDisplayID display = 0;
  std::uint32_t io_mode_id = 0;
};

using CGDisplayModeRef = std::shared_ptr<const CGDisplayMode>;

// The options dictionary of `CGDisplayCopyAllDisplayModes`. `show_duplicate_low_resolution_modes`
// stands for the key kCGDisplayShowDuplicateLowResolutionModes with the value true.
struct CGDisplayModeOptions {
  bool show_duplicate_low_resolution_modes = false;
};

// The display that holds the menu bar (bounds origin 0,0). 0 when there is no display.
CGDirectDisplayID CGMainDisplayID();

// The display's rectangle in global desktop coordinates (points). An unknown display gives the
// empty rectangle {0, 0, 0, 0}.
CGRect CGDisplayBounds(CGDirectDisplayID display);

// Every mode of the display, in the system's order, or nullopt (the NULL array) for an unknown
// display. Scaled duplicates are left out unless the options ask for them; `options` may be null.
std::optional<std::vector<CGDisplayModeRef>> CGDisplayCopyAllDisplayModes(
    CGDirectDisplayID display, const CGDisplayModeOptions* options);

// The display's current mode, or null for an unknown display.
CGDisplayModeRef CGDisplayCopyDisplayMode(CGDirectDisplayID display);

// Switches the display to `mode`, which must be one of that display's modes. Returns
// kCGErrorSuccess, or kCGErrorIllegalArgument for an unknown display, a null mode or a mode of
// another display; other failures come back as their CGError. The switch is complete on return.
// There are no options (the dictionary argument is always NULL here).
CGError CGDisplaySetDisplayMode(CGDirectDisplayID display, const CGDisplayModeRef& mode);

// Width and height in points; 0 for a null mode.
std::size_t CGDisplayModeGetWidth(const CGDisplayModeRef& mode);
std::size_t CGDisplayModeGetHeight(const CGDisplayModeRef& mode);
double CGDisplayModeGetRefreshRate(const CGDisplayModeRef& mode);

// Releases one reference; the handle is null afterwards. A null handle is ignored.
inline void CGDisplayModeRelease(CGDisplayModeRef& mode) {
  mode.reset();
}

}  // namespace tarnvale_platform
