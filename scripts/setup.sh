#!/usr/bin/env bash
# Installs every Debian package the build, the tests, the benchmarks and the tools need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git python3
  libasio-dev nlohmann-json3-dev libfmt-dev libspdlog-dev
  libavcodec-dev libavutil-dev libswscale-dev libavdevice-dev libavformat-dev
  libopus-dev libpng-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-16 libclang-rt-16-dev
  ffmpeg opus-tools
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: these packages are missing and installing them needs root: ${missing[*]}" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
