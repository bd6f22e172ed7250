// The standard cursor shapes the agent reports to the viewer in `cursor_changed`. A custom cursor
// is not a `CursorKind`; it travels as an image. Plain values; encoding lives in proto/wire.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnvale_proto {

enum class CursorKind : std::uint8_t {
  Default,
  Pointer,
  Text,
  Wait,
  Crosshair,
  Move,
  NotAllowed,
  Help,
  ResizeNS,
  ResizeEW,
  ResizeNESW,
  ResizeNWSE,
  Progress,
  Hidden,
};

// The wire string: the value name in lower case with an underscore before every later capital,
// "default", "not_allowed", "resize_n_w_s_e".
std::string_view wire_name(CursorKind kind);
// The value name as logs show it: "Default", "NotAllowed", "ResizeNWSE".
std::string_view value_name(CursorKind kind);
std::string debug_form(CursorKind kind);

}  // namespace tarnvale_proto
