// What the capture back-ends hand to the capture-encode loop: `Frame`, one BGRA image, and the
// `ScreenCapture` interface every back-end implements, made by `new_platform_capture`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/error.h"

namespace tarnvale_capture {

// One BGRA image, row after row: exactly `stride` * `height` bytes in `data`. Each row holds
// `width` * 4 bytes of pixels, then whatever padding the capture service put at the end of the
// row, so step between rows by `stride`, never by `width` * 4. Carries no timestamp. A plain value:
// moving it moves the bytes, copying it copies them.
struct Frame {
  std::vector<std::uint8_t> data;
  std::size_t stride = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
};

// A source of screen images. Used by one thread at a time (it may be handed to another thread
// between uses). Call `start`, then `next_frame` repeatedly, then `stop`; destroying it releases
// everything, with or without `stop`.
class ScreenCapture {
 public:
  virtual ~ScreenCapture() = default;

  // Begins capturing. Blocks while the capture service answers.
  virtual tarnvale_base::Result<void> start() = 0;
  // The next image, waiting about 50 ms at most. An error whose innermost message contains
  // "closed" means the stream ended and the back-end must be rebuilt; any other error is a
  // harmless timeout.
  virtual tarnvale_base::Result<Frame> next_frame() = 0;
  // Ends capturing; never fails.
  virtual void stop() = 0;
};

// The platform's capture back-end for the display `monitor_id` (decimal display id; none: the
// first display). Builds nothing until `start`.
tarnvale_base::Result<std::unique_ptr<ScreenCapture>> new_platform_capture(
    std::optional<std::string> monitor_id);

}  // namespace tarnvale_capture
