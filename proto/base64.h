// Strict standard base64 (RFC 4648 section 4) for the one byte field of the shared vocabulary that
// is read this way, `ClipboardImage`'s `png`. Unlike the link's own lenient reader, it accepts only
// canonical text: the standard alphabet, a length that is a multiple of 4, exactly the padding the
// last group needs, no whitespace and zero unused bits. Pure function; any thread may call it.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "base/error.h"

namespace tarnvale_proto {

// Decodes `text`; an empty text gives no bytes. Errors name the first fault found and its offset,
// such as "base64: invalid symbol 0x2a at offset 4".
tarnvale_base::Result<std::vector<std::uint8_t>> strict_base64_decode(std::string_view text);

}  // namespace tarnvale_proto
