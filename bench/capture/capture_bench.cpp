// The cost of handing one 1920x1080 BGRA frame from the capture service's delivery queue to the
// capture thread: FrameHandler's copy out of the pixel buffer, the channel, and the consumer's
// take with the copy kept for static screens (the steps of MacCapture::next_frame when a frame is
// waiting). The peer is a plain memcpy of the same bytes in the same run; the design implies two
// copies, so the ratio should stay near 2.
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "capture/mac.h"
#include "platform/vhost.h"

namespace {

namespace pf = tarnvale_platform;
using namespace std::chrono_literals;

constexpr std::size_t kWidth = 1920;
constexpr std::size_t kHeight = 1080;

pf::CMSampleBuffer make_sample() {
  auto buf = std::make_shared<pf::CVPixelBuffer>(kWidth, kHeight, pf::kCVPixelFormatType_32BGRA);
  for (std::size_t i = 0; i < buf->bytes_per_row() * kHeight; ++i)
    buf->mutable_bytes()[i] = static_cast<std::uint8_t>(i * 31);
  return pf::CMSampleBuffer::with_image(buf);
}

void BM_Memcpy(benchmark::State& state) {
  auto sample = make_sample();
  const auto& img = *sample.image();
  const std::size_t bytes = img.bytes_per_row() * img.height();
  std::vector<std::uint8_t> src(sample.image()->mutable_bytes(),
                                sample.image()->mutable_bytes() + bytes);
  std::vector<std::uint8_t> dst(bytes);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), bytes);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}

void BM_DeliverAndTake(benchmark::State& state) {
  pf::vhost::VirtualHost::reset();
  auto stream =
      pf::SCStream::create(pf::SCContentFilter(pf::SCDisplay{1, 1920, 1080, {}}, {}), {}, {});
  auto sample = make_sample();
  auto [tx, rx] = tarnvale_capture::frame_channel(tarnvale_capture::kFrameChannelCapacity);
  tarnvale_capture::FrameHandler handler(std::move(tx));
  std::optional<tarnvale_capture::Frame> last_frame;
  for (auto _ : state) {
    handler.didOutputSampleBuffer(*stream, sample, pf::SCStreamOutputType::Screen);
    tarnvale_capture::Frame frame;
    if (rx.receive(frame, 50ms) != tarnvale_capture::FrameReceiver::Status::Frame) {
      state.SkipWithError("no frame");
      break;
    }
    last_frame = frame;  // next_frame keeps a copy for static screens
    benchmark::DoNotOptimize(frame.data.data());
    benchmark::DoNotOptimize(last_frame->data.data());
  }
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * sample.image()->bytes_per_row() * kHeight));
}

BENCHMARK(BM_Memcpy)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DeliverAndTake)->Unit(benchmark::kMicrosecond);

// Prints the usual table, then the ratio of the hand-off to the memcpy peer.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& r : runs) {
      if (r.error_occurred) continue;
      // With repetitions, the mean stands for the benchmark; otherwise its single run.
      if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "mean") {
        times_[r.run_name.function_name] = r.GetAdjustedRealTime();
        means_.insert(r.run_name.function_name);
      } else if (r.run_type == Run::RT_Iteration && !means_.count(r.run_name.function_name)) {
        times_[r.run_name.function_name] = r.GetAdjustedRealTime();
      }
    }
  }
  void print_ratio() const {
    auto m = times_.find("BM_Memcpy");
    auto d = times_.find("BM_DeliverAndTake");
    if (m == times_.end() || d == times_.end() || m->second <= 0) return;
    std::printf(
        "deliver+take per 1920x1080 frame: %.1f us; memcpy of the same bytes: %.1f us; "
        "ratio %.2f (two copies by design)\n",
        d->second, m->second, d->second / m->second);
  }

 private:
  std::map<std::string, double> times_;
  std::set<std::string> means_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.print_ratio();
  benchmark::Shutdown();
  return 0;
}
