#!/usr/bin/env bash
# Runs the wire codec benchmark and prints each typed operation's time as a ratio to the JSON
# library's untyped work on the same text, measured in the same run (below 1: faster than the peer).
#   compare.sh [build-dir] [extra benchmark flags...]
set -euo pipefail
build=${1:-build/release}
shift || true
bin=$build/bench/codec/bench_wire_codec
if [ ! -x "$bin" ]; then
  echo "missing $bin: build the target bench_wire_codec first" >&2
  exit 1
fi
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$bin" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_out="$out" --benchmark_out_format=json "$@" >/dev/null
python3 - "$out" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
median = {r["run_name"]: r["real_time"] for r in runs if r.get("aggregate_name") == "median"}
def t(name): return median[name]
rows = [
    ("decode inject_input: typed / peer parse",
     t("BM_Decode_InjectInput_Typed") / t("BM_Decode_InjectInput_Peer")),
    ("decode inject_input: strict parse alone / peer parse",
     t("BM_Decode_InjectInput_StrictParseOnly") / t("BM_Decode_InjectInput_Peer")),
    ("decode inject_input: typed step alone / peer parse",
     (t("BM_Decode_InjectInput_Typed") - t("BM_Decode_InjectInput_StrictParseOnly"))
     / t("BM_Decode_InjectInput_Peer")),
    ("encode cursor_position: typed / peer dump",
     t("BM_Encode_CursorPosition_Typed") / t("BM_Encode_CursorPosition_Peer")),
    ("encode audio (200 bytes): typed / peer dump",
     t("BM_Encode_Audio200_Typed") / t("BM_Encode_Audio200_Peer")),
]
for name, value in median.items():
    print(f"{name:45s} {value:10.1f} ns (median of 5)")
print()
for label, ratio in rows:
    print(f"{label:55s} {ratio:6.2f}")
PY
