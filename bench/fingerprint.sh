#!/usr/bin/env bash
# CPU cost of fingerprinting files with GetSha1 against sha1sum over the same
# files in the same run. Builds a tree of random files under a temporary
# directory, checks that both tools print the same fingerprints, then times
# each one (user + system CPU seconds, best of several runs, page cache warm)
# and prints the ratio GetSha1 / sha1sum.
#
# With -R it builds one driver per read size (a copy of the sources with
# kSha1ReadSize replaced) and times each of them: the measurement that
# kSha1ReadSize is chosen by.
#
# Usage: bench/fingerprint.sh [-n FILES] [-s MIB_PER_FILE] [-r RUNS]
#                             [-d DRIVER | -R "8K 64K 256K 1M"]
#   -n  number of files (default 20)
#   -s  size of each file in MiB (default 64)
#   -r  timed runs per tool; the fastest counts (default 3)
#   -d  a FingerprintDriver that is already built; otherwise one is compiled
#       from bench/FingerprintDriver.cpp and src/index/FingerPrint.cpp
#   -R  read sizes to compare (bytes, or with a K or M suffix)
# Needs: bash, coreutils (sha1sum, head), awk, sed, a C++20 compiler
# ($CXX, default c++) with the OpenSSL and glog development files.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
files_count=20
size_mib=64
runs=3
driver=""
read_sizes=""

usage() { sed -n '2,/^set -euo/{/^#/s/^# \{0,1\}//p}' "${BASH_SOURCE[0]}"; exit 2; }
while getopts "n:s:r:d:R:h" opt; do
  case $opt in
    n) files_count=$OPTARG ;;
    s) size_mib=$OPTARG ;;
    r) runs=$OPTARG ;;
    d) driver=$OPTARG ;;
    R) read_sizes=$OPTARG ;;
    *) usage ;;
  esac
done
if [[ -n $driver && -n $read_sizes ]]; then
  echo "-d and -R exclude each other" >&2
  exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/morvex-fingerprint-XXXXXX")
trap 'rm -rf "$work"' EXIT

# Compiles a driver from the sources under $1 (a tree with index/ and
# platform/) into $2.
build_driver() {
  "${CXX:-c++}" -std=c++20 -O2 -DNDEBUG -I "$1" "$repo/bench/FingerprintDriver.cpp" "$1/index/FingerPrint.cpp" \
    -lcrypto -lglog -o "$2"
}

# A copy of the fingerprint sources with kSha1ReadSize set to $1 bytes.
sources_with_read_size() {
  local dir="$work/src-$1"
  mkdir -p "$dir/index" "$dir/platform"
  cp "$repo/src/index/FingerPrint.cpp" "$dir/index/"
  cp "$repo/src/platform/UniqueFd.h" "$dir/platform/"
  sed -E "s/^(inline constexpr size_t kSha1ReadSize = ).*;/\\1$1;/" "$repo/src/index/FingerPrint.h" \
    > "$dir/index/FingerPrint.h"
  grep -q "kSha1ReadSize = $1;" "$dir/index/FingerPrint.h" || { echo "kSha1ReadSize not found" >&2; exit 1; }
  echo "$dir"
}

to_bytes() {
  case $1 in
    *K) echo $(( ${1%K} * 1024 )) ;;
    *M) echo $(( ${1%M} * 1024 * 1024 )) ;;
    *) echo $(( $1 )) ;;
  esac
}

# Best user+system CPU seconds of "$@" over $runs runs; output to $work/out.
cpu_seconds() {
  local best="" t TIMEFORMAT='%3U %3S'
  for (( i = 0; i < runs; i++ )); do
    t=$( { time "$@" > "$work/out" 2> "$work/err"; } 2>&1 ) || { cat "$work/err" >&2; exit 1; }
    best=$(awk -v t="$t" -v best="$best" 'BEGIN { split(t, f, " "); s = f[1] + f[2];
                                                  print (best == "" || s < best) ? s : best }')
  done
  echo "$best"
}

# Runs both tools once, untimed: fills the page cache and checks that they
# agree.
check_agree() {
  sha1sum "${files[@]}" > "$work/expected"
  "$1" "${files[@]}" > "$work/actual"
  if ! cmp -s "$work/expected" "$work/actual"; then
    echo "$1 disagrees with sha1sum:" >&2
    diff "$work/expected" "$work/actual" >&2 || true
    exit 1
  fi
}

mkdir "$work/tree"
files=()
for (( i = 0; i < files_count; i++ )); do
  files+=("$work/tree/file$i")
  head -c "$(( size_mib * 1024 * 1024 ))" /dev/urandom > "${files[-1]}"
done

drivers=()
labels=()
if [[ -n $driver ]]; then
  drivers+=("$driver")
  labels+=("GetSha1")
elif [[ -n $read_sizes ]]; then
  for size in $read_sizes; do
    bytes=$(to_bytes "$size")
    build_driver "$(sources_with_read_size "$bytes")" "$work/driver-$bytes"
    drivers+=("$work/driver-$bytes")
    labels+=("GetSha1 read $size")
  done
else
  build_driver "$repo/src" "$work/driver"
  drivers+=("$work/driver")
  labels+=("GetSha1")
fi

for d in "${drivers[@]}"; do check_agree "$d"; done

echo "$files_count files x $size_mib MiB, best of $runs runs, CPU seconds (user + system)"
base=$(cpu_seconds sha1sum "${files[@]}")
printf '%-22s %8.3f\n' "sha1sum" "$base"
for (( k = 0; k < ${#drivers[@]}; k++ )); do
  cpu=$(cpu_seconds "${drivers[k]}" "${files[@]}")
  ratio=$(awk -v a="$cpu" -v b="$base" 'BEGIN { print (b > 0) ? a / b : 0 }')
  printf '%-22s %8.3f   ratio to sha1sum %.3f\n' "${labels[k]}" "$cpu" "$ratio"
done
