#!/usr/bin/env bash
# Full rescan against public tools, measured in one run on the same files:
# the walk against `find -printf` (wall time) and the fingerprints against
# `sha1sum` (CPU time). Prints ratios.
#   bench/rescan.sh [FILES] [FOLDERS] [FILE_BYTES]   (default 100000 1000 1024)
#   BIN_DIR=build/bin
set -euo pipefail
files=${1:-100000}
folders=${2:-1000}
bytes=${3:-1024}
bin=${BIN_DIR:-$(dirname "$0")/../build/bin}
work=$(mktemp -d /tmp/morvex-rescan-XXXXXX)
trap 'rm -rf "$work"' EXIT

echo "making $files files of $bytes bytes in $folders folders under $work/tree"
mkdir -p "$work/tree" "$work/meta"
head -c "$bytes" /dev/urandom > "$work/one"
per=$(( files / folders ))
for ((d = 0; d < folders; d++)); do
  dir="$work/tree/d$d"
  mkdir -p "$dir"
  for ((f = 0; f < per; f++)); do cp "$work/one" "$dir/f$f"; done
done
sync

now() { date +%s.%N; }
cpu_of() {  # CPU seconds (user+sys) of a command and its children
  local TIMEFORMAT='%U %S'
  { time "$@" > /dev/null 2>&1; } 2>&1 | awk '{print $1 + $2}'
}

t0=$(now); find "$work/tree" -printf '%p %s %T@\n' > /dev/null; t1=$(now)
find_wall=$(echo "$t1 - $t0" | bc)
sha_cpu=$(cpu_of bash -c "find '$work/tree' -type f -print0 | xargs -0 sha1sum")

out=$("$bin/rescan_driver" "$work/tree" "$work/meta" 2> "$work/driver.log")
echo "$out"
first_wall=$(echo "$out" | awk '/^first/ {print $4}')
first_cpu=$(echo "$out" | awk '/^first/ {print $7}')
second_wall=$(echo "$out" | awk '/^second/ {print $4}')

echo "find -printf wall: ${find_wall} s   sha1sum cpu: ${sha_cpu} s"
echo "ratio first rescan cpu / sha1sum cpu:   $(echo "scale=2; $first_cpu / $sha_cpu" | bc)"
echo "ratio first rescan wall / find wall:    $(echo "scale=2; $first_wall / $find_wall" | bc)"
echo "ratio second rescan wall / find wall:   $(echo "scale=2; $second_wall / $find_wall" | bc)"
