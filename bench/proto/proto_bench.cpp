// Cost of reading the shared vocabulary, each beside a peer doing comparable work on the same
// input in the same run (compare.sh prints the ratios):
//   - decoding a `Key` input event (key-name lookup, nested modifiers) and a `MouseMove` event
//     against a plain nlohmann::json::parse of the same text;
//   - the strict base64 reader on a 64 KiB clipboard image against the link's lenient reader.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "host-ipc/base64.h"
#include "proto/base64.h"
#include "proto/wire.h"

namespace {

constexpr std::string_view kKey =
    R"({"kind":"Key","key":"BracketRight","pressed":true,)"
    R"("mods":{"shift":false,"ctrl":false,"alt":false,"meta":true},"repeat":false})";
constexpr std::string_view kMouseMove = R"({"kind":"MouseMove","x":0.4375,"y":0.61803399})";

void decode_typed(benchmark::State& state, std::string_view body) {
  for (auto _ : state) {
    auto event = tarnvale_proto::decode_input_event_json(body);
    if (!event) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(event);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(body.size()));
}

void parse_peer(benchmark::State& state, std::string_view body) {
  for (auto _ : state) {
    auto doc = nlohmann::json::parse(body);
    benchmark::DoNotOptimize(doc);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(body.size()));
}

void BM_Decode_KeyEvent_Typed(benchmark::State& state) {
  decode_typed(state, kKey);
}
void BM_Decode_KeyEvent_Peer(benchmark::State& state) {
  parse_peer(state, kKey);
}
void BM_Decode_MouseMove_Typed(benchmark::State& state) {
  decode_typed(state, kMouseMove);
}
void BM_Decode_MouseMove_Peer(benchmark::State& state) {
  parse_peer(state, kMouseMove);
}
BENCHMARK(BM_Decode_KeyEvent_Typed);
BENCHMARK(BM_Decode_KeyEvent_Peer);
BENCHMARK(BM_Decode_MouseMove_Typed);
BENCHMARK(BM_Decode_MouseMove_Peer);

std::string image_text() {
  std::vector<std::uint8_t> image(64 * 1024);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 131 + 7);
  return tarnvale_host_ipc::base64_encode(image);
}

void BM_Base64_Image64K_Strict(benchmark::State& state) {
  const std::string text = image_text();
  for (auto _ : state) {
    auto bytes = tarnvale_proto::strict_base64_decode(text);
    if (!bytes) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(bytes);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
void BM_Base64_Image64K_Peer(benchmark::State& state) {
  const std::string text = image_text();
  for (auto _ : state) {
    auto bytes = tarnvale_host_ipc::base64_decode(text);
    if (!bytes) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(bytes);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_Base64_Image64K_Strict);
BENCHMARK(BM_Base64_Image64K_Peer);

}  // namespace

BENCHMARK_MAIN();
