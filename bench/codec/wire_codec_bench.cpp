// Cost of the daemon link's typed JSON layer, each beside the JSON library's own untyped work on
// the same text (compare.sh prints the ratios):
//   - decoding an `inject_input` mouse move (the most frequent daemon message) against a plain
//     nlohmann::json::parse of the same body; the strict parse alone is measured too, so the
//     typed step's own share shows;
//   - encoding a `cursor_position` and a 200-byte `audio` event against nlohmann's dump of the
//     same document.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "base/json_wire.h"
#include "host-ipc/messages_agent_bound.h"
#include "host-ipc/messages_agent_event.h"

namespace {

using tarnvale_host_ipc::AgentBound;
using tarnvale_host_ipc::AgentEvent;

constexpr std::string_view kMouseMove =
    R"({"kind":"inject_input","event":{"kind":"MouseMove","x":0.5,"y":0.5}})";

void BM_Decode_InjectInput_Typed(benchmark::State& state) {
  for (auto _ : state) {
    auto msg = AgentBound::decode_json(kMouseMove);
    if (!msg) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(msg);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kMouseMove.size()));
}
BENCHMARK(BM_Decode_InjectInput_Typed);

void BM_Decode_InjectInput_StrictParseOnly(benchmark::State& state) {
  for (auto _ : state) {
    auto doc = tarnvale_base::json_wire::parse(kMouseMove);
    benchmark::DoNotOptimize(doc);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kMouseMove.size()));
}
BENCHMARK(BM_Decode_InjectInput_StrictParseOnly);

void BM_Decode_InjectInput_Peer(benchmark::State& state) {
  for (auto _ : state) {
    auto doc = nlohmann::json::parse(kMouseMove);
    benchmark::DoNotOptimize(doc);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(kMouseMove.size()));
}
BENCHMARK(BM_Decode_InjectInput_Peer);

AgentEvent cursor_position() {
  return AgentEvent::CursorPosition{0.4375f, 0.61803399f};
}

AgentEvent audio_packet() {
  std::vector<std::uint8_t> packet(200);
  for (std::size_t i = 0; i < packet.size(); ++i) packet[i] = static_cast<std::uint8_t>(i * 37);
  return AgentEvent::Audio{1'234'560'000, std::move(packet)};
}

void encode_typed(benchmark::State& state, const AgentEvent& event) {
  std::string out;
  for (auto _ : state) {
    out.clear();  // the outbound task reuses its buffer the same way
    event.encode_json(out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(out.size()));
}

void encode_peer(benchmark::State& state, const AgentEvent& event) {
  std::string text;
  event.encode_json(text);
  const auto doc = nlohmann::ordered_json::parse(text);
  std::string out;
  for (auto _ : state) {
    out = doc.dump();
    benchmark::DoNotOptimize(out.data());
  }
  if (out != text) state.SkipWithError("peer wrote a different text");
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(out.size()));
}

void BM_Encode_CursorPosition_Typed(benchmark::State& state) {
  encode_typed(state, cursor_position());
}
BENCHMARK(BM_Encode_CursorPosition_Typed);

void BM_Encode_CursorPosition_Peer(benchmark::State& state) {
  encode_peer(state, cursor_position());
}
BENCHMARK(BM_Encode_CursorPosition_Peer);

void BM_Encode_Audio200_Typed(benchmark::State& state) {
  encode_typed(state, audio_packet());
}
BENCHMARK(BM_Encode_Audio200_Typed);

void BM_Encode_Audio200_Peer(benchmark::State& state) {
  encode_peer(state, audio_packet());
}
BENCHMARK(BM_Encode_Audio200_Peer);

}  // namespace

BENCHMARK_MAIN();
