#!/usr/bin/env bash
# Runs the vocabulary benchmark and prints each of our readers' times as a ratio to its peer,
# measured in the same run (below 1: faster than the peer).
#   compare.sh [build-dir] [extra benchmark flags...]
set -euo pipefail
build=${1:-build/release}
shift || true
exec python3 "$(dirname "$0")/../compare.py" "$build/bench/proto/bench_proto" --time cpu_time \
  "decode Key event: typed / peer parse=BM_Decode_KeyEvent_Typed/BM_Decode_KeyEvent_Peer" \
  "decode MouseMove event: typed / peer parse=BM_Decode_MouseMove_Typed/BM_Decode_MouseMove_Peer" \
  "base64 64 KiB image: strict / link reader=BM_Base64_Image64K_Strict/BM_Base64_Image64K_Peer" \
  -- "$@"
