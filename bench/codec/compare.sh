#!/usr/bin/env bash
# Runs the wire codec benchmark and prints each typed operation's time as a ratio to the JSON
# library's untyped work on the same text, measured in the same run (below 1: faster than the peer).
#   compare.sh [build-dir] [extra benchmark flags...]
set -euo pipefail
build=${1:-build/release}
shift || true
exec python3 "$(dirname "$0")/../compare.py" "$build/bench/codec/bench_wire_codec" \
  "decode inject_input: typed / peer parse=BM_Decode_InjectInput_Typed/BM_Decode_InjectInput_Peer" \
  "decode inject_input: strict parse alone / peer parse=BM_Decode_InjectInput_StrictParseOnly/BM_Decode_InjectInput_Peer" \
  "decode inject_input: typed step alone / peer parse=BM_Decode_InjectInput_Typed-BM_Decode_InjectInput_StrictParseOnly/BM_Decode_InjectInput_Peer" \
  "encode cursor_position: typed / peer dump=BM_Encode_CursorPosition_Typed/BM_Encode_CursorPosition_Peer" \
  "encode audio (200 bytes): typed / peer dump=BM_Encode_Audio200_Typed/BM_Encode_Audio200_Peer" \
  -- "$@"
