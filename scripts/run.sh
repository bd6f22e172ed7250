#!/usr/bin/env bash
# Runs the main job: builds the agent and the development daemon, then runs one session on the
# virtual host's defaults and leaves the recording and summary in out/run/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)"
echo "run: the session driver and development daemon are not built yet" >&2
