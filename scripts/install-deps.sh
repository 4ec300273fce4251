#!/usr/bin/env bash
# Installs the Debian packages that building and testing Morvex needs.
# Does nothing when every package is already installed, so `make` can run it
# on every invocation.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libzmq3-dev
  libprotobuf-dev protobuf-compiler
  libsqlite3-dev sqlite3
  libssl-dev
  libgoogle-glog-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  iproute2 python3
  groff-base
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
