// The daemon link's own base64 codec (standard alphabet, "=" padding) for the byte fields of its
// messages: `audio`'s `encoded`, `clipboard_image_changed`'s `png` and the file-transfer chunks.
// The writer always pads and never breaks lines. The reader is lenient: it skips whitespace and
// "=" wherever they stand, accepts unpadded text and ignores the unused bits of the last
// character, so it never insists on canonical text. Pure functions; any thread may call them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"

namespace tarnvale_host_ipc {

// 4 × ceil(n / 3) characters; "" for no bytes.
std::string base64_encode(std::span<const std::uint8_t> bytes);
// The same text appended to `out`, for writers that build a message in one buffer.
void base64_encode_to(std::string& out, std::span<const std::uint8_t> bytes);

// Errors: "base64: invalid byte 0x2a" (a byte outside the alphabet that is not skipped, as two
// lower-case hex digits) and "base64: truncated input" (a single 6-bit value left at the end).
tarnvale_base::Result<std::vector<std::uint8_t>> base64_decode(std::string_view text);

}  // namespace tarnvale_host_ipc
