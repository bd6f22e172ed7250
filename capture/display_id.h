// Reading display ids as the viewer sends them: unsigned 32-bit decimal, an optional leading "+".
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tarnvale_capture {

// The id in `text`, or nullopt when `text` is empty, holds any other character (signs other
// than one leading "+", spaces) or does not fit in 32 bits.
std::optional<std::uint32_t> parse_display_id(std::string_view text);

}  // namespace tarnvale_capture
