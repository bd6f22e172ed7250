#!/usr/bin/env bash
# Runs the main job: builds the agent and the development daemon, then runs one session on the
# virtual host's defaults and leaves the recording and summary in out/run/.
#   RUN_SECONDS   how long the session runs before the daemon closes it (default 15)
#   TARNVALE_LOG  the agent's log filter (default info)
# Exits 0 when the session worked: the handshake was accepted, the agent sent well-formed events
# with its heartbeat, and it exited with status 0 when the daemon closed the link.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${RUN_SECONDS:-15}
out=$root/out/run
socket="/Library/Application Support/Tarnvale/run/agent.sock"

bash scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target tarnvale-host-agent tarnvale-devd

rm -rf "$out"
mkdir -p "$out"
# The daemon's side of the session: resume capture, then let it run.
cat >"$out/script.jsonl" <<'SCRIPT'
{"kind":"set_paused","paused":false}
SCRIPT

build/release/tools/devd/tarnvale-devd --socket "$socket" --out "$out" --once \
  --duration "$seconds" --script "$out/script.jsonl" >"$out/devd.log" 2>&1 &
devd=$!
cleanup() { kill "$devd" 2>/dev/null || true; }
trap cleanup EXIT
for _ in $(seq 100); do
  grep -q "listening" "$out/devd.log" 2>/dev/null && break
  kill -0 "$devd" 2>/dev/null || { cat "$out/devd.log" >&2; exit 1; }
  sleep 0.05
done

echo "run: session of ${seconds}s; agent log in out/run/agent.log"
set +e
build/release/agent/tarnvale-host-agent >"$out/agent.log" 2>"$out/agent.err"
agent_status=$?
set -e
wait "$devd" || true
trap - EXIT

echo "run: agent exited with status $agent_status"
[ -s "$out/agent.err" ] && { echo "run: agent standard error:"; cat "$out/agent.err"; }
echo "run: summary (out/run/summary.json):"
cat "$out/summary.json"

python3 - "$out/summary.json" "$agent_status" <<'CHECK'
import json, sys
summary = json.load(open(sys.argv[1]))
problems = []
if int(sys.argv[2]) != 0: problems.append("agent exit status %s" % sys.argv[2])
if summary.get("answer") != '{"kind":"ok"}': problems.append("handshake not accepted")
if summary.get("heartbeats", 0) < 1: problems.append("no heartbeat")
if summary.get("malformed", 0): problems.append("malformed frames from the agent")
if summary.get("undecodable_events"): problems.append("undecodable events")
if problems:
    print("run: FAILED: " + "; ".join(problems))
    sys.exit(1)
print("run: session OK: %d heartbeats, %d video frames, first frame after %.1f ms"
      % (summary["heartbeats"], summary["frames"], summary["first_frame_latency_ms"]))
CHECK
