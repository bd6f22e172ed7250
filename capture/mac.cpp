#include "capture/mac.h"

#include <cstring>
#include <limits>

#include "base/log.h"
#include "capture/display_id.h"
#include "capture/sc_wait.h"
#include "platform/appkit.h"
#include "platform/session.h"

namespace tarnvale_capture {
namespace {

namespace pf = tarnvale_platform;
using tarnvale_base::Error;
using tarnvale_base::Result;

constexpr std::string_view kTarget = "tarnvale_capture::mac";
constexpr const char* kNoDisplays =
    "no displays available — did you grant Screen Recording permission?";

Error content_error(const pf::NSError& e) {
  return Error(e.localizedDescription).context("SCShareableContent::get failed");
}

// The shareable content, or the error in the form every caller reports.
Result<std::shared_ptr<const pf::SCShareableContent>> query_content() {
  auto answer = sc_wait::shareable_content();
  if (answer.error) return std::unexpected(content_error(*answer.error));
  if (!answer.content) return std::unexpected(content_error(pf::NSError{{}, 0, "no content"}));
  return std::move(answer.content);
}

bool screen_is_locked() {
  auto session = pf::CGSessionCopyCurrentDictionary();
  if (!session) return false;
  const auto* value = session->get(pf::kCGSSessionScreenIsLockedKey);
  const bool* flag = value ? std::get_if<bool>(value) : nullptr;
  return flag && *flag;
}

}  // namespace

std::optional<Frame> FrameHandler::copy_frame(const pf::CMSampleBuffer& sample) {
  pf::CVPixelBuffer* image = pf::CMSampleBufferGetImageBuffer(sample);
  if (!image) return std::nullopt;  // idle or status-only delivery
  if (pf::CVPixelBufferLockBaseAddress(image, pf::kCVPixelBufferLock_ReadOnly) != 0)
    return std::nullopt;
  const std::size_t width = pf::CVPixelBufferGetWidth(image);
  const std::size_t height = pf::CVPixelBufferGetHeight(image);
  const std::size_t stride = pf::CVPixelBufferGetBytesPerRow(image);
  const auto* base = static_cast<const std::uint8_t*>(pf::CVPixelBufferGetBaseAddress(image));
  const auto height32 = static_cast<std::uint32_t>(height);
  std::optional<Frame> frame;
  // Sizes the service reports are trusted only as far as the bytes it maps: a row count or size
  // that overflows, or more bytes than the buffer holds, gives no frame.
  const bool fits = height32 == 0 || stride <= std::numeric_limits<std::size_t>::max() / height32;
  const std::size_t needed = fits ? stride * height32 : 0;
  const std::size_t available = base ? height * stride : 0;
  if (fits && needed != 0 && needed <= available && width <= 0xFFFFFFFFu && width * 4 <= stride) {
    frame.emplace();
    frame->data.assign(base, base + needed);
    frame->stride = stride;
    frame->width = static_cast<std::uint32_t>(width);
    frame->height = height32;
  }
  pf::CVPixelBufferUnlockBaseAddress(image, pf::kCVPixelBufferLock_ReadOnly);
  return frame;
}

void FrameHandler::didOutputSampleBuffer(pf::SCStream&, const pf::CMSampleBuffer& sample,
                                         pf::SCStreamOutputType type) {
  if (type != pf::SCStreamOutputType::Screen) return;
  if (auto frame = copy_frame(sample)) sender_.try_send(std::move(*frame));
}

MacCapture::MacCapture(std::optional<std::string> monitor_id)
    : monitor_id_(std::move(monitor_id)) {}

MacCapture::~MacCapture() = default;  // releasing the stream ends its delivery

Result<MacCapture::Built> MacCapture::build_stream() {
  auto content = query_content();
  if (!content) return std::unexpected(content.error());

  std::optional<pf::SCDisplay> display;
  if (!monitor_id_) {
    if ((*content)->displays.empty()) return tarnvale_base::fail(kNoDisplays);
    display = (*content)->displays.front();
  } else {
    if (auto id = parse_display_id(*monitor_id_)) {
      for (const auto& d : (*content)->displays) {
        if (d.displayID == *id) {
          display = d;
          break;
        }
      }
    }
    if (!display) {
      tarnvale_base::log::warn(kTarget, "monitor id not found; falling back to first display",
                               {{"requested", *monitor_id_}});
      auto again = query_content();
      if (!again) return std::unexpected(again.error());
      if ((*again)->displays.empty()) return tarnvale_base::fail(kNoDisplays);
      display = (*again)->displays.front();
    }
  }

  pf::SCContentFilter filter(*display, {});
  pf::SCStreamConfiguration config;
  config.width = display->width;
  config.height = display->height;
  config.pixelFormat = pf::kCVPixelFormatType_32BGRA;
  config.showsCursor = false;
  config.minimumFrameInterval = pf::CMTimeMake(1, 30);

  auto [sender, receiver] = frame_channel(kFrameChannelCapacity);
  auto stream = pf::SCStream::create(std::move(filter), config, {});
  // The stream holds the only reference to the handler, so its sender lives exactly as long as
  // the stream keeps delivering. Failing to add the output leaves a stream that delivers nothing.
  stream->addStreamOutput(std::make_shared<FrameHandler>(std::move(sender)),
                          pf::SCStreamOutputType::Screen, nullptr);
  if (auto error = sc_wait::start(*stream)) {
    return std::unexpected(
        Error(error->localizedDescription).context("stream.start_capture failed"));
  }
  tarnvale_base::log::info(kTarget, "ScreenCaptureKit stream started",
                           {{"display_w", config.width}, {"display_h", config.height}});
  return Built{std::move(stream), std::move(receiver)};
}

Result<void> MacCapture::start() {
  if (stream_) return {};
  auto built = build_stream();
  if (!built) return std::unexpected(built.error());
  stream_ = std::move(built->stream);
  receiver_ = std::move(built->receiver);
  last_frame_.reset();
  return {};
}

void MacCapture::check_lock_state() {
  const auto now = std::chrono::steady_clock::now();
  if (last_lock_check_ && (now < *last_lock_check_ || now - *last_lock_check_ < kLockCheckInterval))
    return;
  last_lock_check_ = now;
  const bool locked = screen_is_locked();
  if (locked == locked_) return;
  locked_ = locked;
  tarnvale_base::log::info(kTarget,
                           "screen lock state changed; restarting capture to refresh frame",
                           {{"locked", locked}});
  auto built = build_stream();
  if (!built) {
    tarnvale_base::log::warn(kTarget, "capture restart after lock transition failed",
                             {{"error", built.error()}});
    return;
  }
  if (stream_) {
    sc_wait::stop(*stream_);  // its error does not matter: the stream is released either way
    stream_.reset();
  }
  stream_ = std::move(built->stream);
  receiver_ = std::move(built->receiver);
  last_frame_.reset();
}

Result<Frame> MacCapture::next_frame() {
  if (!receiver_) return tarnvale_base::fail("capture not started — call start() first");
  Frame frame;
  switch (receiver_->receive(frame, kNextFrameWait)) {
    case FrameReceiver::Status::Frame:
      last_frame_ = frame;
      return frame;
    case FrameReceiver::Status::Closed:
      return tarnvale_base::fail("capture stream closed");
    case FrameReceiver::Status::Timeout:
      break;
  }
  check_lock_state();
  if (last_frame_) return *last_frame_;
  return tarnvale_base::fail("capture idle; no frame captured yet");
}

void MacCapture::stop() {
  if (auto stream = std::move(stream_)) {
    sc_wait::stop(*stream);  // error ignored
    stream.reset();
  }
  receiver_.reset();
}

bool ensure_appkit_loaded() {
  const bool ok = tarnvale_platform::NSApplicationLoad();
  tarnvale_base::log::info(kTarget, "NSApplicationLoad: AppKit activated for faceless agent",
                           {{"ok", ok}});
  return ok;
}

Result<std::unique_ptr<ScreenCapture>> new_platform_capture(std::optional<std::string> monitor_id) {
  return std::make_unique<MacCapture>(std::move(monitor_id));
}

}  // namespace tarnvale_capture
