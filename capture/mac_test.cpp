#include "capture/mac.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "base/log.h"
#include "capture/monitors.h"
#include "platform/vhost.h"

namespace tarnvale_capture {
namespace {

namespace pf = tarnvale_platform;
namespace vh = tarnvale_platform::vhost;
using namespace std::chrono_literals;
namespace log = tarnvale_base::log;

constexpr const char* kNoDisplays =
    "no displays available — did you grant Screen Recording permission?";

vh::DisplayLayout small_display(std::uint32_t id, std::uint32_t w, std::uint32_t h,
                                vh::Content content = vh::Content::Static) {
  vh::DisplayLayout d;
  d.id = id;
  d.modes = {vh::make_mode(w, h), vh::make_mode(w / 2, h / 2)};
  d.content = content;
  return d;
}

std::shared_ptr<vh::VirtualHost> host_with(std::vector<vh::DisplayLayout> displays) {
  vh::Scenario s;
  s.displays = std::move(displays);
  return vh::VirtualHost::reset(std::move(s));
}

// Calls next_frame until it returns a frame or `limit` passes.
tarnvale_base::Result<Frame> wait_frame(ScreenCapture& c, std::chrono::milliseconds limit = 3s) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    auto f = c.next_frame();
    if (f || std::chrono::steady_clock::now() > deadline) return f;
  }
}

std::uint32_t pixel(const Frame& f, std::size_t x, std::size_t y) {
  std::uint32_t v;
  std::memcpy(&v, f.data.data() + y * f.stride + x * 4, 4);
  return v;
}

TEST(MacCapture, NextFrameNeedsStartAndStopEndsIt) {
  host_with({small_display(1, 64, 48)});
  MacCapture capture(std::nullopt);
  auto before = capture.next_frame();
  ASSERT_FALSE(before);
  EXPECT_EQ(before.error().what(), "capture not started — call start() first");

  ASSERT_TRUE(capture.start());
  ASSERT_TRUE(capture.start());  // a second start changes nothing
  EXPECT_EQ(vh::VirtualHost::get()->stats().streams_started, 1u);
  ASSERT_TRUE(wait_frame(capture));

  capture.stop();
  EXPECT_EQ(vh::VirtualHost::get()->stats().streams_live, 0u);
  auto after = capture.next_frame();
  ASSERT_FALSE(after);
  EXPECT_EQ(after.error().what(), "capture not started — call start() first");
}

TEST(MacCapture, FramesArePaddedRowsOfTheDisplaySize) {
  auto host = host_with({small_display(1, 101, 7)});
  ASSERT_TRUE(host->set_solid(1, 10, 20, 30));
  log::ScopedCapture logs;
  MacCapture capture(std::nullopt);
  ASSERT_TRUE(capture.start());
  auto started = logs.find("ScreenCaptureKit stream started");
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].field("display_w"), "101");
  EXPECT_EQ(started[0].field("display_h"), "7");

  auto f = wait_frame(capture);
  ASSERT_TRUE(f) << f.error().what();
  EXPECT_EQ(f->width, 101u);
  EXPECT_EQ(f->height, 7u);
  EXPECT_EQ(f->stride, 448u);  // 404 bytes of pixels rounded up to 64
  EXPECT_EQ(f->data.size(), f->stride * f->height);
  EXPECT_EQ(pixel(*f, 100, 6), 0xFF1E140Au);
}

TEST(MacCapture, IdleBeforeTheFirstFrame) {
  // The first delivery's pixel lock fails and the screen is static, so no frame ever arrives.
  auto host = host_with({small_display(1, 64, 48)});
  host->fail_next_pixel_lock();
  MacCapture capture(std::nullopt);
  ASSERT_TRUE(capture.start());
  ASSERT_TRUE(host->wait_for([](const vh::Stats& s) { return s.image_deliveries >= 1; }, 3s));
  const auto t0 = std::chrono::steady_clock::now();
  auto f = capture.next_frame();
  EXPECT_GE(std::chrono::steady_clock::now() - t0, 45ms);
  ASSERT_FALSE(f);
  EXPECT_EQ(f.error().what(), "capture idle; no frame captured yet");
}

TEST(MacCapture, StaticScreenGivesOneFrameThenCopiesAboutEvery50ms) {
  auto host = host_with({small_display(1, 64, 48)});
  MacCapture capture(std::nullopt);
  ASSERT_TRUE(capture.start());
  auto first = wait_frame(capture);
  ASSERT_TRUE(first);
  // The stream keeps ticking without an image while nothing changes.
  ASSERT_TRUE(host->wait_for([](const vh::Stats& s) { return s.idle_deliveries >= 3; }, 3s));
  for (int i = 0; i < 3; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    auto copy = capture.next_frame();
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 45ms);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->data, first->data);
    EXPECT_EQ(copy->stride, first->stride);
  }
  EXPECT_EQ(host->stats().image_deliveries, 1u);

  // A change brings exactly one new frame.
  ASSERT_TRUE(host->set_solid(1, 1, 2, 3));
  ASSERT_TRUE(host->wait_for([](const vh::Stats& s) { return s.image_deliveries >= 2; }, 3s));
  auto changed = capture.next_frame();
  ASSERT_TRUE(changed);
  EXPECT_EQ(pixel(*changed, 0, 0), 0xFF030201u);
  ASSERT_TRUE(host->wait_for([](const vh::Stats& s) { return s.idle_deliveries >= 8; }, 3s));
  EXPECT_EQ(host->stats().image_deliveries, 2u);
}

TEST(MacCapture, MovingScreenDeliversChangingFrames) {
  host_with({small_display(1, 320, 200, vh::Content::Moving)});
  MacCapture capture(std::nullopt);
  ASSERT_TRUE(capture.start());
  auto a = wait_frame(capture);
  ASSERT_TRUE(a);
  auto b = wait_frame(capture);
  ASSERT_TRUE(b);
  EXPECT_NE(a->data, b->data);
}

TEST(MacCapture, MonitorIdChoosesTheDisplayOrFallsBackToTheFirst) {
  host_with({small_display(1, 64, 48), small_display(5, 80, 60)});
  struct Case {
    std::string id;
    std::uint32_t width;  // of the display captured
    bool warns;
  };
  for (const Case& c : {Case{"5", 80, false}, Case{"+5", 80, false}, Case{"1", 64, false},
                        Case{"abc", 64, true}, Case{"-5", 64, true}, Case{"9", 64, true},
                        Case{"", 64, true}, Case{"99999999999", 64, true}}) {
    log::ScopedCapture logs;
    MacCapture capture(c.id);
    ASSERT_TRUE(capture.start()) << c.id;
    auto f = wait_frame(capture);
    ASSERT_TRUE(f) << c.id;
    EXPECT_EQ(f->width, c.width) << c.id;
    auto warnings = logs.find("monitor id not found; falling back to first display");
    ASSERT_EQ(warnings.size(), c.warns ? 1u : 0u) << c.id;
    if (c.warns) {
      EXPECT_EQ(warnings[0].level, log::Level::Warn);
      EXPECT_EQ(warnings[0].field("requested"), c.id);
    }
  }
}

TEST(MacCapture, StartErrors) {
  struct Case {
    const char* name;
    std::function<void(vh::VirtualHost&)> arrange;
    std::optional<std::string> monitor;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"screen recording refused", [](auto& h) { h.set_screen_recording(false); }, std::nullopt,
       kNoDisplays},
      {"refused, with an id", [](auto& h) { h.set_screen_recording(false); }, "1", kNoDisplays},
      {"content query fails", [](auto& h) { h.fail_next_content_query("no session"); },
       std::nullopt, "SCShareableContent::get failed: no session"},
      {"stream start fails", [](auto& h) { h.fail_next_stream_start("boom"); }, std::nullopt,
       "stream.start_capture failed: boom"},
  };
  for (const auto& c : cases) {
    auto host = host_with({small_display(1, 64, 48)});
    c.arrange(*host);
    MacCapture capture(c.monitor);
    auto r = capture.start();
    ASSERT_FALSE(r) << c.name;
    EXPECT_EQ(r.error().what(), c.error) << c.name;
    auto f = capture.next_frame();  // the state is unchanged: not started
    ASSERT_FALSE(f);
    EXPECT_EQ(f.error().what(), "capture not started — call start() first") << c.name;
  }
}

TEST(MacCapture, SecondQueryFailureAfterAnUnknownIdIsReported) {
  auto host = host_with({small_display(1, 64, 48)});
  host->fail_next_content_query("gone", /*skip=*/1);
  MacCapture capture("7");
  auto r = capture.start();
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().what(), "SCShareableContent::get failed: gone");
}

TEST(MacCapture, DeadStreamClosesTheCapture) {
  auto host = host_with({small_display(1, 64, 48)});
  MacCapture capture(std::nullopt);
  ASSERT_TRUE(capture.start());
  ASSERT_TRUE(wait_frame(capture));
  EXPECT_EQ(host->kill_streams(), 1u);
  auto f = capture.next_frame();
  ASSERT_FALSE(f);
  EXPECT_EQ(f.error().what(), "capture stream closed");
}

TEST(MacCapture, LockChangeRebuildsTheStream) {
  auto host = host_with({small_display(1, 64, 48)});
  MacCapture capture(std::nullopt);
  ASSERT_TRUE(capture.start());
  auto before = wait_frame(capture);
  ASSERT_TRUE(before);

  log::ScopedCapture logs;
  host->set_locked(true);
  // The running stream shows nothing new after a lock; a timed-out call notices the lock within
  // about 500 ms, rebuilds, and has no frame until the new stream delivers one.
  auto deadline = std::chrono::steady_clock::now() + 3s;
  tarnvale_base::Result<Frame> f = capture.next_frame();
  while (logs.find("screen lock state changed; restarting capture to refresh frame").empty() &&
         std::chrono::steady_clock::now() < deadline) {
    ASSERT_TRUE(f);
    EXPECT_EQ(f->data, before->data);
    f = capture.next_frame();
  }
  auto changed = logs.find("screen lock state changed; restarting capture to refresh frame");
  ASSERT_EQ(changed.size(), 1u);
  EXPECT_EQ(changed[0].field("locked"), "true");
  ASSERT_FALSE(f);
  EXPECT_EQ(f.error().what(), "capture idle; no frame captured yet");
  EXPECT_EQ(host->stats().streams_started, 2u);
  EXPECT_EQ(host->stats().streams_stopped, 1u);

  auto lock_screen = wait_frame(capture);
  ASSERT_TRUE(lock_screen);
  EXPECT_NE(lock_screen->data, before->data);

  // Unlocking rebuilds again; a failed rebuild keeps the old stream and warns.
  host->fail_next_stream_start("busy");
  host->set_locked(false);
  deadline = std::chrono::steady_clock::now() + 3s;
  while (logs.find("capture restart after lock transition failed").empty() &&
         std::chrono::steady_clock::now() < deadline) {
    capture.next_frame();
  }
  auto failed = logs.find("capture restart after lock transition failed");
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_EQ(failed[0].field("error"), "stream.start_capture failed: busy");
  auto kept = capture.next_frame();
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->data, lock_screen->data);
}

TEST(MacCapture, ModeSwitchChangesWhatANewCaptureDelivers) {
  host_with({small_display(1, 64, 48)});
  MacCapture running(std::nullopt);
  ASSERT_TRUE(running.start());
  ASSERT_TRUE(wait_frame(running));

  auto switched = display_mode::set_display_resolution(std::nullopt, 32, 24);
  ASSERT_TRUE(switched) << switched.error().what();

  MacCapture fresh(std::nullopt);
  ASSERT_TRUE(fresh.start());
  auto f = wait_frame(fresh);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->width, 32u);
  EXPECT_EQ(f->height, 24u);
  // A running stream keeps the size it was configured with; the picture is scaled into it.
  auto r = wait_frame(running);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->width, 64u);
  ASSERT_TRUE(display_mode::set_display_resolution(std::nullopt, 0, 0));
}

// Builds a sample buffer holding a `w` x `h` image whose bytes all equal `fill`.
pf::CMSampleBuffer image_sample(std::size_t w, std::size_t h, std::uint8_t fill) {
  auto buf = std::make_shared<pf::CVPixelBuffer>(w, h, pf::kCVPixelFormatType_32BGRA);
  if (const std::size_t n = buf->bytes_per_row() * h) std::memset(buf->mutable_bytes(), fill, n);
  return pf::CMSampleBuffer::with_image(buf);
}

class FrameHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vh::VirtualHost::reset();
    // Only a handle to pass along; never started.
    stream_ = pf::SCStream::create(pf::SCContentFilter(pf::SCDisplay{1, 64, 48, {}}, {}), {}, {});
  }
  std::shared_ptr<pf::SCStream> stream_;
};

TEST_F(FrameHandlerTest, FifthFrameIsDroppedWhileFourWaitUnread) {
  auto [tx, rx] = frame_channel(kFrameChannelCapacity);
  FrameHandler handler(std::move(tx));
  for (std::uint8_t i = 1; i <= 5; ++i)
    handler.didOutputSampleBuffer(*stream_, image_sample(8, 2, i), pf::SCStreamOutputType::Screen);
  for (std::uint8_t i = 1; i <= 4; ++i) {
    Frame f;
    ASSERT_EQ(rx.receive(f, 0ms), FrameReceiver::Status::Frame);
    EXPECT_EQ(f.data.front(), i);
  }
  Frame f;
  EXPECT_EQ(rx.receive(f, 0ms), FrameReceiver::Status::Timeout);
  // Room again: the next frame goes through.
  handler.didOutputSampleBuffer(*stream_, image_sample(8, 2, 6), pf::SCStreamOutputType::Screen);
  ASSERT_EQ(rx.receive(f, 0ms), FrameReceiver::Status::Frame);
  EXPECT_EQ(f.data.front(), 6);
}

TEST_F(FrameHandlerTest, DeliveriesWithoutAUsableImageProduceNothing) {
  auto locked_out = image_sample(8, 2, 1);
  locked_out.image()->fail_next_lock(pf::kCVReturnError);
  struct Case {
    const char* name;
    pf::CMSampleBuffer sample;
    pf::SCStreamOutputType type;
  };
  const std::vector<Case> cases = {
      {"idle", pf::CMSampleBuffer(), pf::SCStreamOutputType::Screen},
      {"audio output", image_sample(8, 2, 1), pf::SCStreamOutputType::Audio},
      {"lock fails", locked_out, pf::SCStreamOutputType::Screen},
      {"zero height", image_sample(8, 0, 1), pf::SCStreamOutputType::Screen},
      {"zero width", image_sample(0, 4, 1), pf::SCStreamOutputType::Screen},
  };
  for (const auto& c : cases) {
    auto [tx, rx] = frame_channel(kFrameChannelCapacity);
    FrameHandler handler(std::move(tx));
    handler.didOutputSampleBuffer(*stream_, c.sample, c.type);
    Frame f;
    EXPECT_EQ(rx.receive(f, 0ms), FrameReceiver::Status::Timeout) << c.name;
  }
}

TEST(FrameChannel, ClosedOnlyAfterQueuedFramesAreTaken) {
  auto [tx, rx] = frame_channel(4);
  {
    FrameSender last = std::move(tx);
    ASSERT_TRUE(last.try_send(Frame{{1, 2, 3, 4}, 4, 1, 1}));
  }
  Frame f;
  EXPECT_EQ(rx.receive(f, 0ms), FrameReceiver::Status::Frame);
  EXPECT_EQ(rx.receive(f, 10ms), FrameReceiver::Status::Closed);
}

TEST(FrameChannel, SendAfterTheReceiverIsGoneDrops) {
  auto [tx, rx] = frame_channel(4);
  { FrameReceiver gone = std::move(rx); }
  EXPECT_FALSE(tx.try_send(Frame{}));
}

TEST(AppKit, EnsureLoadedLogsTheResult) {
  auto host = vh::VirtualHost::reset();
  log::ScopedCapture logs;
  EXPECT_TRUE(ensure_appkit_loaded());
  auto records = logs.find("NSApplicationLoad: AppKit activated for faceless agent");
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].level, log::Level::Info);
  EXPECT_EQ(records[0].target, "tarnvale_capture::mac");
  EXPECT_EQ(records[0].field("ok"), "true");
  EXPECT_EQ(host->stats().appkit_loads, 1u);
}

}  // namespace
}  // namespace tarnvale_capture
