// The macOS capture back-end: `MacCapture` runs a capture-framework stream for one display and
// hands its frames to the capture thread through a 4-frame channel; `FrameHandler` is the stream's
// screen output that copies each delivered image into a `Frame`. Also `ensure_appkit_loaded`,
// which the process entry calls once at start.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "capture/frame_channel.h"
#include "capture/screen_capture.h"
#include "platform/sc.h"

namespace tarnvale_capture {

// Frames the channel between a stream and `MacCapture` holds before it drops new ones.
inline constexpr std::size_t kFrameChannelCapacity = 4;
// How long `next_frame` waits for a frame.
inline constexpr std::chrono::milliseconds kNextFrameWait{50};
// Least time between two screen-lock checks while the screen is idle.
inline constexpr std::chrono::milliseconds kLockCheckInterval{500};

// The stream's screen output. Runs on the stream's delivery queue; owns the channel's sending
// end, which closes when the stream lets go of the handler.
class FrameHandler final : public tarnvale_platform::SCStreamOutput {
 public:
  explicit FrameHandler(FrameSender sender) : sender_(std::move(sender)) {}

  // Copies the image (if any) into a `Frame` and offers it to the channel without waiting.
  // Audio and image-less deliveries, failed locks and inconsistent sizes produce nothing.
  void didOutputSampleBuffer(tarnvale_platform::SCStream& stream,
                             const tarnvale_platform::CMSampleBuffer& sample,
                             tarnvale_platform::SCStreamOutputType type) override;

  // The copy step alone, for callers that hold a sample buffer: the frame, or nullopt.
  static std::optional<Frame> copy_frame(const tarnvale_platform::CMSampleBuffer& sample);

 private:
  FrameSender sender_;
};

// The capture back-end. Created by `new_platform_capture`; used by one thread at a time (the
// capture-encode thread). Owns its stream (which owns the `FrameHandler`), the channel's
// receiving end and a copy of the last frame. Takes no locks of its own.
class MacCapture final : public ScreenCapture {
 public:
  explicit MacCapture(std::optional<std::string> monitor_id);
  // Releases the stream without stopping it first.
  ~MacCapture() override;
  MacCapture(const MacCapture&) = delete;
  MacCapture& operator=(const MacCapture&) = delete;

  // ScreenCapture:
  tarnvale_base::Result<void> start() override;
  tarnvale_base::Result<Frame> next_frame() override;
  void stop() override;

 private:
  struct Built {
    std::shared_ptr<tarnvale_platform::SCStream> stream;
    FrameReceiver receiver;
  };
  tarnvale_base::Result<Built> build_stream();
  void check_lock_state();

  std::shared_ptr<tarnvale_platform::SCStream> stream_;
  std::optional<FrameReceiver> receiver_;
  std::optional<std::string> monitor_id_;
  std::optional<Frame> last_frame_;
  std::optional<std::chrono::steady_clock::time_point> last_lock_check_;
  bool locked_ = false;
};

// Activates AppKit for this faceless process (`NSApplicationLoad`) and logs the result.
bool ensure_appkit_loaded();

}  // namespace tarnvale_capture
