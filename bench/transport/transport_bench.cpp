// The cost of the daemon link's socket path against plain system calls on the same bytes, in the
// same run: writing one 100 KB video packet as a binary frame, and reading one small JSON frame
// (with and without decoding it as a daemon message). The peer of each does the same transfer
// with blocking write()/read() on a socket pair. After the table, the ratios are printed.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "host-ipc/messages_agent_bound.h"
#include "host-ipc/uds.h"

namespace {

namespace uds = tarnvale_host_ipc::uds;

constexpr std::size_t kPacket = 100 * 1024;
const std::string kSmallJson = R"({"kind":"set_capture_scale","width":1280,"height":720})";

struct SocketPair {
  int a = -1, b = -1;
  SocketPair() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0) {
      a = fds[0];
      b = fds[1];
    }
  }
  ~SocketPair() {
    if (a >= 0) ::close(a);
    if (b >= 0) ::close(b);
  }
};

bool write_all(int fd, const void* data, std::size_t n) {
  auto p = static_cast<const char*>(data);
  while (n > 0) {
    ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
    if (w <= 0) return false;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

bool read_all(int fd, void* data, std::size_t n) {
  auto p = static_cast<char*>(data);
  while (n > 0) {
    ssize_t r = ::read(fd, p, n);
    if (r <= 0) return false;
    p += r;
    n -= static_cast<std::size_t>(r);
  }
  return true;
}

// Drains everything written to `fd` until it closes.
std::thread drain(int fd) {
  return std::thread([fd] {
    std::vector<char> buf(1 << 16);
    while (::read(fd, buf.data(), buf.size()) > 0) {
    }
  });
}

// Writes the same JSON frame to `fd` until the reader goes away.
std::thread feed(int fd) {
  return std::thread([fd] {
    const auto n = static_cast<std::uint32_t>(kSmallJson.size());
    std::string frame = {static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                         static_cast<char>(n >> 8), static_cast<char>(n)};
    frame += kSmallJson;
    std::string batch;
    for (int i = 0; i < 64; ++i) batch += frame;
    while (write_all(fd, batch.data(), batch.size())) {
    }
  });
}

void BM_VideoFrameWrite_Link(benchmark::State& state) {
  SocketPair sp;
  auto reader = drain(sp.b);
  {
    asio::io_context io;
    auto halves = uds::split(uds::Socket(io, asio::local::stream_protocol(), sp.a));
    sp.a = -1;
    std::vector<std::uint8_t> packet(kPacket, 0x5A);
    asio::co_spawn(
        io,
        [&]() -> asio::awaitable<void> {
          std::uint64_t pts = 0;
          for (auto _ : state) {
            auto r = co_await uds::write_video_frame(halves->write, pts, true, packet);
            if (!r) state.SkipWithError(r.error().what().c_str());
            pts += 33333;
          }
        },
        asio::detached);
    io.run();
  }  // both halves released: the reader sees end of stream
  reader.join();
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kPacket + 13));
}

void BM_VideoFrameWrite_PlainWrite(benchmark::State& state) {
  SocketPair sp;
  auto reader = drain(sp.b);
  std::vector<std::uint8_t> packet(kPacket, 0x5A);
  std::uint64_t pts = 0;
  for (auto _ : state) {
    // The same bytes: header, then pts, key-frame byte and packet assembled in one buffer.
    const auto len = static_cast<std::uint32_t>(kPacket + 9) | 0x80000000u;
    unsigned char head[4] = {static_cast<unsigned char>(len >> 24),
                             static_cast<unsigned char>(len >> 16),
                             static_cast<unsigned char>(len >> 8), static_cast<unsigned char>(len)};
    std::vector<std::uint8_t> body(kPacket + 9);
    for (int i = 0; i < 8; ++i) body[i] = static_cast<std::uint8_t>(pts >> (56 - 8 * i));
    body[8] = 1;
    std::memcpy(body.data() + 9, packet.data(), kPacket);
    if (!write_all(sp.a, head, 4) || !write_all(sp.a, body.data(), body.size())) {
      state.SkipWithError("write failed");
    }
    pts += 33333;
  }
  ::close(sp.a);
  sp.a = -1;
  reader.join();
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kPacket + 13));
}

template <bool kDecode>
void read_link(benchmark::State& state) {
  SocketPair sp;
  auto writer = feed(sp.b);
  {
    asio::io_context io;
    auto halves = uds::split(uds::Socket(io, asio::local::stream_protocol(), sp.a));
    sp.a = -1;
    asio::co_spawn(
        io,
        [&]() -> asio::awaitable<void> {
          for (auto _ : state) {
            if constexpr (kDecode) {
              auto m = co_await uds::read_framed<tarnvale_host_ipc::AgentBound>(halves->read);
              if (!m) state.SkipWithError(m.error().what().c_str());
              benchmark::DoNotOptimize(m);
            } else {
              auto body = co_await uds::read_frame_body(halves->read);
              if (!body) state.SkipWithError(body.error().what().c_str());
              benchmark::DoNotOptimize(body);
            }
          }
        },
        asio::detached);
    io.run();
  }
  ::shutdown(sp.b, SHUT_RDWR);
  writer.join();
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kSmallJson.size() + 4));
}

void BM_SmallJsonRead_Link(benchmark::State& state) {
  read_link<false>(state);
}
void BM_SmallJsonReadDecode_Link(benchmark::State& state) {
  read_link<true>(state);
}

void BM_SmallJsonRead_PlainRead(benchmark::State& state) {
  SocketPair sp;
  auto writer = feed(sp.b);
  for (auto _ : state) {
    unsigned char head[4];
    if (!read_all(sp.a, head, 4)) state.SkipWithError("read failed");
    const std::uint32_t n = (std::uint32_t{head[0]} << 24) | (std::uint32_t{head[1]} << 16) |
                            (std::uint32_t{head[2]} << 8) | head[3];
    std::vector<char> body(n);
    if (!read_all(sp.a, body.data(), n)) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(body);
  }
  ::shutdown(sp.a, SHUT_RDWR);
  writer.join();
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kSmallJson.size() + 4));
}

BENCHMARK(BM_VideoFrameWrite_Link)->UseRealTime();
BENCHMARK(BM_VideoFrameWrite_PlainWrite)->UseRealTime();
BENCHMARK(BM_SmallJsonRead_Link)->UseRealTime();
BENCHMARK(BM_SmallJsonReadDecode_Link)->UseRealTime();
BENCHMARK(BM_SmallJsonRead_PlainRead)->UseRealTime();

// Prints the table as usual and remembers each run's time per iteration for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) {
      if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
        times[run.benchmark_name()] = run.GetAdjustedRealTime();
      }
    }
  }
  std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto ratio = [&](const char* what, const char* ours, const char* peer) {
    auto a = reporter.times.find(std::string(ours) + "/real_time");
    auto b = reporter.times.find(std::string(peer) + "/real_time");
    if (a == reporter.times.end() || b == reporter.times.end() || b->second <= 0) return;
    std::printf("ratio %-44s %.2fx (link / plain system calls)\n", what, a->second / b->second);
  };
  std::printf("\n");
  ratio("100 KB binary frame write", "BM_VideoFrameWrite_Link", "BM_VideoFrameWrite_PlainWrite");
  ratio("small JSON frame read", "BM_SmallJsonRead_Link", "BM_SmallJsonRead_PlainRead");
  ratio("small JSON frame read + AgentBound decode", "BM_SmallJsonReadDecode_Link",
        "BM_SmallJsonRead_PlainRead");
  benchmark::Shutdown();
}
