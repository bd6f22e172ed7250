// The screen-capture framework: shareable content and its displays, content filters, stream
// configurations and streams with screen and audio outputs. Same contracts as the macOS classes:
//  - completion handlers run on a framework thread, never on the caller's; a caller that needs the
//    answer blocks until the handler has run;
//  - sample buffers arrive on a serial queue that belongs to the stream (one thread per stream),
//    one at a time, never on the caller's thread;
//  - the stream keeps its outputs alive while it lives and lets go of them when it is released or
//    when it dies; the delegate is held weakly.
// Without Screen Recording permission the shareable content holds no displays.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/cg_display.h"
#include "platform/media.h"

namespace tarnvale_platform {

namespace vhost::detail {
struct StreamCore;
}

// A failed framework request: its domain, code and human-readable description.
struct NSError {
  std::string domain;
  std::int64_t code = 0;
  std::string localizedDescription;
};

inline constexpr std::string_view kSCStreamErrorDomain =
    "com.apple.ScreenCaptureKit.SCStreamErrorDomain";
// Codes of SCStreamErrorDomain used here.
inline constexpr std::int64_t SCStreamErrorUserDeclined = -3801;
inline constexpr std::int64_t SCStreamErrorFailedToStart = -3802;
inline constexpr std::int64_t SCStreamErrorAttemptToStopStreamState = -3808;
inline constexpr std::int64_t SCStreamErrorInternalError = -3811;
inline constexpr std::int64_t SCStreamErrorNoDisplayList = -3814;

using SCWindowID = std::uint32_t;

// A display that can be captured. `width`/`height` are its size in points in its current mode.
struct SCDisplay {
  CGDirectDisplayID displayID = 0;
  std::int64_t width = 0;
  std::int64_t height = 0;
  CGRect frame;
};

// A snapshot of what can be captured, in the framework's order (the main display first).
class SCShareableContent {
 public:
  std::vector<SCDisplay> displays;

  using CompletionHandler = std::function<void(std::shared_ptr<const SCShareableContent> content,
                                               std::optional<NSError> error)>;

  // Exactly one of `content` and `error` is set when the handler runs (on a framework thread).
  static void getShareableContentExcludingDesktopWindows(bool exclude_desktop_windows,
                                                         bool on_screen_windows_only,
                                                         CompletionHandler completion);
};

// What a stream captures: one whole display, minus the listed windows.
struct SCContentFilter {
  SCContentFilter(const SCDisplay& d, std::vector<SCWindowID> excluding_windows)
      : display(d), excluded_windows(std::move(excluding_windows)) {}
  SCDisplay display;
  std::vector<SCWindowID> excluded_windows;
};

// The stream's settings, with the framework's defaults. The output image is `width` x `height`
// pixels whatever the display's mode; a display of another size is scaled into it.
struct SCStreamConfiguration {
  std::int64_t width = 1920;
  std::int64_t height = 1080;
  OSType pixelFormat = kCVPixelFormatType_32BGRA;
  bool showsCursor = true;
  // At most one frame per this interval; {0, 0} means the display's refresh rate.
  CMTime minimumFrameInterval{0, 0};
  bool capturesAudio = false;
  std::int64_t sampleRate = 48000;
  std::int64_t channelCount = 2;
  bool excludesCurrentProcessAudio = false;
};

enum class SCStreamOutputType { Screen, Audio };

class SCStream;

// Receives a stream's sample buffers, on the stream's own queue.
class SCStreamOutput {
 public:
  virtual ~SCStreamOutput() = default;
  virtual void didOutputSampleBuffer(SCStream& stream, const CMSampleBuffer& sample,
                                     SCStreamOutputType type) = 0;
};

// Told when a running stream stops on its own (display gone, system stopped it), on a framework
// thread.
class SCStreamDelegate {
 public:
  virtual ~SCStreamDelegate() = default;
  virtual void didStopWithError(SCStream& stream, const NSError& error) = 0;
};

// A capture stream. Made with `create` (initWithFilter:configuration:delegate:), then given its
// outputs, started and stopped. Any thread may call its methods. Releasing the last reference
// ends delivery: it returns once no sample handler runs any more (unless released from a
// sample handler itself), and the outputs are let go.
class SCStream {
 public:
  using CompletionHandler = std::function<void(std::optional<NSError> error)>;

  static std::shared_ptr<SCStream> create(SCContentFilter filter,
                                          SCStreamConfiguration configuration,
                                          std::weak_ptr<SCStreamDelegate> delegate);
  ~SCStream();
  SCStream(const SCStream&) = delete;
  SCStream& operator=(const SCStream&) = delete;

  // Adds an output for `type`. Returns false and fills `error` (if given) when the output cannot
  // be added (a null output, or audio on a stream that does not capture audio); the stream still
  // starts and then delivers nothing to it.
  bool addStreamOutput(std::shared_ptr<SCStreamOutput> output, SCStreamOutputType type,
                       NSError* error);

  // Starts delivery. The handler gets nothing on success, or the reason it could not start.
  void startCapture(CompletionHandler completion);
  // Stops delivery; when the handler runs no sample handler runs any more. Stopping a stream
  // that is not running completes with an error.
  void stopCapture(CompletionHandler completion);

 private:
  explicit SCStream(std::shared_ptr<vhost::detail::StreamCore> core);
  std::shared_ptr<vhost::detail::StreamCore> core_;
};

}  // namespace tarnvale_platform
