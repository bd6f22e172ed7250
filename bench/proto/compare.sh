#!/usr/bin/env bash
# Runs the vocabulary benchmark and prints each of our readers' times as a ratio to its peer,
# measured in the same run (below 1: faster than the peer).
#   compare.sh [build-dir] [extra benchmark flags...]
set -euo pipefail
build=${1:-build/release}
shift || true
bin=$build/bench/proto/bench_proto
if [ ! -x "$bin" ]; then
  echo "missing $bin: build the target bench_proto first" >&2
  exit 1
fi
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$bin" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_out="$out" --benchmark_out_format=json "$@" >/dev/null
python3 - "$out" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
median = {r["run_name"]: r["cpu_time"] for r in runs if r.get("aggregate_name") == "median"}
def t(name): return median[name]
rows = [
    ("decode Key event: typed / peer parse",
     t("BM_Decode_KeyEvent_Typed") / t("BM_Decode_KeyEvent_Peer")),
    ("decode MouseMove event: typed / peer parse",
     t("BM_Decode_MouseMove_Typed") / t("BM_Decode_MouseMove_Peer")),
    ("base64 64 KiB image: strict / link reader",
     t("BM_Base64_Image64K_Strict") / t("BM_Base64_Image64K_Peer")),
]
for name, value in median.items():
    print(f"{name:35s} {value:12.1f} ns CPU (median of 5)")
print()
for label, ratio in rows:
    print(f"{label:50s} {ratio:6.2f}")
PY
