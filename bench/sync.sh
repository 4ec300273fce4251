#!/usr/bin/env bash
# Two Morvex services converging on one folder, against `cp -a` and `rsync -a`
# measured in the same run on the same data. Prints a table with ratios and,
# for a run with `perf record` attached to both services, where the time goes.
#
# Usage (as root, from anywhere):
#   bench/sync.sh [--quick] [--datasets LIST] [--work DIR] [--logs DIR]
#                 [--timeout S] [--no-perf]
#     --quick      small sizes, for a smoke run
#     --datasets   comma-separated, from (default: all four, in this order)
#                    small    10,000 files of 4 KiB in 100 folders   (quick: 1,000 in 10)
#                    large    one 1 GiB file                         (quick: 64 MiB)
#                    medium   100 files of 10 MiB                    (quick: 10)
#                    profile  20 files of 10 MiB, `perf record` with call
#                             graphs on both services during the
#                             transfer (its timings include perf)    (quick: 5)
#     --work DIR   parent of the scratch folder (default /tmp); the data is
#                  deleted at the end. Needs about 4x the largest dataset.
#     --logs DIR   where the services' logs, the perf reports and the
#                  transcript are kept (default /tmp/morvex-bench-sync-logs-<time>)
#     --timeout S  give up on one convergence after S seconds (default 900, quick 120)
#     --no-perf    no profile even for "profile" (its row is still measured)
#   PERF_CG=...    perf record's call-graph options (default
#                  "--call-graph dwarf,16384 -F 999": frame-pointer chains, -g,
#                  are garbage through Debian's stripped libcrypto, DWARF ones
#                  reach the exported BN_/EVP_ functions and morvex's callers)
#   BIN_DIR=...    where morvex, morvexctl and e2e_admin are (default build/bin);
#                  they are copied to the scratch folder first, so a rebuild
#                  during the run does not change them.
#
# What one dataset does, in a fresh pair of folders:
#   1. writes random data into A's folder and `sync`s;
#   2. references, three runs each (the median counts), each into a fresh
#      folder: `cp -a` of A's folder on the same disk (wall time, and with a
#      following `sync`), and `rsync -a` pulling from an rsync daemon in A's
#      namespace into B's namespace; the first copies are checked against A
#      by checksums; every copy is deleted before the next step;
#   3. starts a service in each of two network namespaces (fresh metadirs),
#      waits until they list each other, makes them trust each other, adds
#      A's folder as a tree and waits until A has indexed every file (File
#      rows with status 1 in A's database) and is idle;
#   4. adds B's empty tree and links both sides; the clock starts just before
#      B's side of the link and B's pass request (`sync-once`), and stops when
#      B's folder lists every file with its size and nothing else (no
#      "*.~morvex" temporary files). Without progress for 15 s another pass is
#      requested (counted in the "passes" column). CPU seconds (user+sys) of
#      both services come from /proc/PID/stat before and after;
#   5. checks that both trees are equal by checksums and keeps the logs.
#
# The network: two test hosts of tests/e2e/testhosts.py (held by
# bench/testnet.py): namespaces on a bridge that lives in a namespace of its
# own, 10.213.50.10 and .11. Nothing runs in the machine's
# own namespace; every namespace, process and scratch file made here is
# removed at exit, also after a failure, Ctrl-C or SIGTERM (a script started
# in the background by a non-interactive shell ignores SIGINT: use SIGTERM).
# Caches are not dropped: the output says how much of A's data was cached.
#
# Needs root, iproute2, sqlite3, rsync, jq, coreutils, util-linux (fincore);
# perf (linux-perf) for the profile. Missing Debian packages are installed.
set -euo pipefail

# ----- options -----

quick=0
datasets="small,large,medium,profile"
work_parent=/tmp
logs=""
timeout=""
use_perf=1
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1 ;;
    --datasets) datasets=$2; shift ;;
    --datasets=*) datasets=${1#*=} ;;
    --work) work_parent=$2; shift ;;
    --work=*) work_parent=${1#*=} ;;
    --logs) logs=$2; shift ;;
    --logs=*) logs=${1#*=} ;;
    --timeout) timeout=$2; shift ;;
    --timeout=*) timeout=${1#*=} ;;
    --no-perf) use_perf=0 ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option: $1 (see --help)" >&2; exit 2 ;;
  esac
  shift
done
[ -n "$timeout" ] || timeout=$(( quick ? 120 : 900 ))
[ -n "$logs" ] || logs=/tmp/morvex-bench-sync-logs-$(date +%Y%m%d-%H%M%S)
for d in ${datasets//,/ }; do
  case "$d" in small|large|medium|profile) ;; *) echo "unknown dataset: $d" >&2; exit 2 ;; esac
done
if [ "$(id -u)" -ne 0 ]; then echo "needs root (network namespaces)" >&2; exit 2; fi

# ----- packages -----

packages=(rsync sqlite3 jq iproute2 util-linux procps)
[ "$use_perf" = 1 ] && packages+=(linux-perf)
missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then missing+=("$p"); fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing missing packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" > /dev/null
fi
if [ "$use_perf" = 1 ] && ! command -v perf > /dev/null; then
  echo "perf is not available: the profile run reports the user/sys split only"
  use_perf=0
fi

# ----- state and cleanup -----

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
src_bin=$(cd "${BIN_DIR:-$repo/build/bin}" && pwd)
mkdir -p "$work_parent" "$logs"
work=$(mktemp -d "$work_parent/morvex-bench-sync-XXXXXX")
subnet=10.213.50
ns_a=""; ns_b=""; addr_a=""; addr_b=""   # set by build_network
rsync_port=8873
ref_runs=3      # runs of each reference; the median counts
net_pid=""      # the holder of the test hosts (bench/testnet.py)
pids=()         # processes started here and maybe still running
transcript="$logs/transcript.txt"
: > "$transcript"

note() { printf '%s %s\n' "$(date +%H:%M:%S)" "$*" | tee -a "$transcript" >&2; }

stop_pid() {  # SIGTERM (or $2), up to 5 s (or $3), then SIGKILL; only processes started here
  local pid=$1 sig=${2:-TERM} grace=${3:-5} i
  kill -0 "$pid" 2> /dev/null || { wait "$pid" 2> /dev/null || true; return 0; }
  kill -"$sig" "$pid" 2> /dev/null || true
  for ((i = 0; i < grace * 10; i++)); do
    kill -0 "$pid" 2> /dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2> /dev/null; then
    note "process $pid still running $grace s after SIG$sig: SIGKILL"
    kill -KILL "$pid" 2> /dev/null || true
  fi
  wait "$pid" 2> /dev/null || true
}

forget_pid() {
  local keep=() p
  for p in "${pids[@]}"; do [ "$p" = "$1" ] || keep+=("$p"); done
  pids=("${keep[@]}")
}

cleanup() {
  local status=$? p n
  trap - EXIT INT TERM
  for p in "${pids[@]}"; do stop_pid "$p"; done
  # The services are gone; the holder deletes the namespaces on SIGTERM.
  if [ -n "$net_pid" ]; then kill -TERM "$net_pid" 2> /dev/null || true; wait "$net_pid" 2> /dev/null || true; fi
  rm -rf "$work"
  echo "logs kept in $logs" >&2
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# ----- network -----

# The hosts come from the end-to-end harness (tests/e2e/testhosts.py), held
# open by bench/testnet.py until it gets SIGTERM (or its input closes): two
# namespaces on a bridge in a namespace of its own.
build_network() {
  local line netns address
  coproc NET { exec python3 "$repo/bench/testnet.py" 2 "$subnet" 2>> "$transcript"; }
  net_pid=$NET_PID
  local hosts=()
  while read -r -u "${NET[0]}" line; do
    [ "$line" = ready ] && break
    hosts+=("$line")
  done
  if [ "${#hosts[@]}" -ne 2 ]; then note "the test hosts did not come up (see $transcript)"; exit 1; fi
  read -r ns_a addr_a <<< "${hosts[0]}"
  read -r ns_b addr_b <<< "${hosts[1]}"
  note "test hosts $ns_a ($addr_a) and $ns_b ($addr_b)"
}

# ----- small tools -----

now() { date +%s.%N; }
minus() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a - b }'; }
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b + 0 > 0 && a != "-") printf "%.2f", a / b; else printf "-" }'; }
tck=$(getconf CLK_TCK)
cpu_ticks() {  # "user system" ticks of a process (all its threads)
  sed 's/^.*) //' "/proc/$1/stat" | awk '{ print $12, $13 }'
}
cpu_total_ticks() { cpu_ticks "$1" | awk '{ print $1 + $2 }'; }
ticks_s() { awk -v t="$1" -v k="$tck" 'BEGIN { printf "%.2f", t / k }'; }

listing() {  # "size path" of every regular file under $1, sorted
  (cd "$1" && find . -type f -printf '%s %P\n' | LC_ALL=C sort)
}
tree_sum() {  # one checksum over the sorted per-file sha1 list of a tree
  (cd "$1" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 -r sha1sum | sha1sum | cut -d' ' -f1)
}
cached_pct() {  # share of a tree's bytes in the page cache, in percent
  (cd "$1" && find . -type f -print0 | xargs -0 -r fincore -b -n -r -o RES,SIZE) |
    awk '{ r += $1; s += $2 } END { if (s > 0) printf "%.0f", 100 * r / s; else print "?" }'
}
bytes_under() { find "$1" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }'; }

# ----- data -----

# make_data DIR KIND: random content. One random blob per folder is cut into
# files with split(1): no process per file.
make_data() {
  local dir=$1 kind=$2 folders per size d
  mkdir -p "$dir"
  case "$kind" in
    small)
      if [ "$quick" = 1 ]; then folders=10; else folders=100; fi
      per=100; size=4096
      for ((d = 0; d < folders; d++)); do
        mkdir -p "$dir/d$d"
        head -c $((per * size)) /dev/urandom | (cd "$dir/d$d" && split -b "$size" -a 3 -d - f)
      done ;;
    large)
      if [ "$quick" = 1 ]; then size=64; else size=1024; fi
      head -c $((size * 1024 * 1024)) /dev/urandom > "$dir/big.bin" ;;
    medium|profile)
      if [ "$kind" = medium ]; then per=$(( quick ? 10 : 100 )); else per=$(( quick ? 5 : 20 )); fi
      mkdir -p "$dir/m"
      head -c $((per * 10 * 1024 * 1024)) /dev/urandom | (cd "$dir/m" && split -b 10M -a 3 -d - chunk)
      ;;
  esac
  sync
}

describe() {
  case "$1" in
    small) if [ "$quick" = 1 ]; then echo "1000 x 4 KiB"; else echo "10000 x 4 KiB"; fi ;;
    large) if [ "$quick" = 1 ]; then echo "1 x 64 MiB"; else echo "1 x 1 GiB"; fi ;;
    medium) if [ "$quick" = 1 ]; then echo "10 x 10 MiB"; else echo "100 x 10 MiB"; fi ;;
    profile) if [ "$quick" = 1 ]; then echo "5 x 10 MiB +perf"; else echo "20 x 10 MiB +perf"; fi ;;
  esac
}

# ----- references -----

rsync_pid=""
start_rsyncd() {  # serves $1 as module "bench" from A's namespace
  local dir=$1 conf=$work/rsyncd.conf i
  cat > "$conf" <<EOF
port = $rsync_port
address = $addr_a
use chroot = no
pid file = $work/rsyncd.pid
log file = $work/rsyncd.log
[bench]
  path = $dir
  read only = yes
  uid = root
  gid = root
EOF
  rm -f "$work/rsyncd.pid"
  # `ip netns exec` execs rsync: $! is the daemon itself.
  ip netns exec "$ns_a" rsync --daemon --no-detach --config="$conf" < /dev/null >> "$work/rsyncd.out" 2>&1 &
  rsync_pid=$!
  pids+=("$rsync_pid")
  for ((i = 0; i < 100; i++)); do
    if ip netns exec "$ns_b" rsync "rsync://$addr_a:$rsync_port/" 2> /dev/null | grep -q '^bench'; then return 0; fi
    sleep 0.1
  done
  note "rsync daemon did not answer"; cat "$work/rsyncd.out" "$work/rsyncd.log" 2> /dev/null >&2 || true
  return 1
}

stop_rsyncd() {
  [ -n "$rsync_pid" ] || return 0
  stop_pid "$rsync_pid"; forget_pid "$rsync_pid"; rsync_pid=""
}

# ----- services -----

declare -A svc_pid svc_meta svc_uuid svc_ns
bin=$work/bin

start_service() {  # start_service LABEL NS NAME METADIR
  local label=$1 ns=$2 name=$3 meta=$4 i
  mkdir -p "$meta"
  XDG_CONFIG_HOME="$meta/config" ip netns exec "$ns" "$bin/morvex" --headless -t benchpass -n "$name" -m "$meta" \
    < /dev/null > "$meta/service.out" 2>&1 &
  svc_pid[$label]=$!
  svc_meta[$label]=$meta
  svc_ns[$label]=$ns
  pids+=("${svc_pid[$label]}")
  for ((i = 0; i < 150; i++)); do
    if ! kill -0 "${svc_pid[$label]}" 2> /dev/null; then
      note "service $name exited:"; tail -20 "$meta/service.out" >&2; return 1
    fi
    if cat "$meta"/Morvex/Morvex*.log* 2> /dev/null | grep -q "Morvex is running"; then break; fi
    sleep 0.1
  done
  if ((i == 150)); then note "service $name not running within 15 s"; tail -20 "$meta/service.out" >&2; return 1; fi
  if [ "$(readlink "/proc/${svc_pid[$label]}/exe")" != "$bin/morvex" ]; then
    note "PID ${svc_pid[$label]} is not the service"; return 1
  fi
  for ((i = 0; i < 50; i++)); do
    svc_uuid[$label]=$(ctl "$label" --json id 2> /dev/null | jq -r .uuid 2> /dev/null || true)
    [ -n "${svc_uuid[$label]}" ] && [ "${svc_uuid[$label]}" != null ] && return 0
    sleep 0.1
  done
  note "service $name does not answer id"; return 1
}

stop_service() {
  local label=$1
  [ -n "${svc_pid[$label]:-}" ] || return 0
  stop_pid "${svc_pid[$label]}"; forget_pid "${svc_pid[$label]}"; svc_pid[$label]=""
}

ctl() {  # ctl LABEL ARGS...: morvexctl against that service, in its namespace
  local label=$1; shift
  timeout 10 ip netns exec "${svc_ns[$label]}" "$bin/morvexctl" -m "${svc_meta[$label]}" "$@"
}

admin() {  # admin LABEL ARGS...: e2e_admin against that service
  local label=$1 out; shift
  if ! out=$(timeout 10 ip netns exec "${svc_ns[$label]}" "$bin/e2e_admin" "${svc_meta[$label]}" "$@" 2>&1); then
    note "e2e_admin $* on $label failed: $out"; return 1
  fi
}

# wait_entry LABEL OTHER JQ-CONDITION SECONDS: until LABEL lists OTHER so
wait_entry() {
  local label=$1 other=$2 cond=$3 limit=$4 end
  end=$(awk -v n="$(now)" -v l="$limit" 'BEGIN { print n + l }')
  while :; do
    if ctl "$label" --json devices 2> /dev/null |
        jq -e --arg u "${svc_uuid[$other]}" ".[] | select(.uuid == \$u) | select($cond)" > /dev/null 2>&1; then
      return 0
    fi
    if awk -v n="$(now)" -v e="$end" 'BEGIN { exit !(n > e) }'; then
      note "$label does not list $other with $cond within $limit s"; return 1
    fi
    sleep 0.2
  done
}

pair_services() {
  wait_entry a b '.online == true' 20
  wait_entry b a '.online == true' 20
  ctl a trust request bravo > /dev/null
  wait_entry a b '.pair == "WAIT"' 10
  wait_entry b a '.pair == "ACK"' 10
  ctl b trust accept alpha > /dev/null
  wait_entry a b '.pair == "PAIR" and .trusted == true' 10
  wait_entry b a '.pair == "PAIR" and .trusted == true' 10
}

indexed_files() {  # indexed_files LABEL TREE_UUID: File rows with status 1 of that tree
  sqlite3 -readonly -cmd '.timeout 2000' "${svc_meta[$1]}/Morvex/Morvex.db" \
    "select count(*) from File f join Tree t on f.tree_id = t.id where t.tree_uuid = '$2' and f.type = 0 and f.status = 1" \
    2> /dev/null || echo 0
}

wait_idle() {  # wait_idle LABEL MAX_S: until the service used < 2 ticks in one second
  local label=$1 limit=$2 i before after
  for ((i = 0; i < limit; i++)); do
    before=$(cpu_total_ticks "${svc_pid[$label]}")
    sleep 1
    after=$(cpu_total_ticks "${svc_pid[$label]}")
    ((after - before < 2)) && return 0
  done
  note "$label still busy after $limit s"
}

keep_logs() {  # keep_logs DATASET
  local ds=$1 label dest
  for label in a b; do
    dest=$logs/$ds/$label
    mkdir -p "$dest"
    cp -a "${svc_meta[$label]}/service.out" "${svc_meta[$label]}"/Morvex/Morvex*.log* "$dest/" 2> /dev/null || true
  done
}

b_phases() {  # b_phases DATASET: from B's log, the pass request to the first and last file put in place
  cat "$logs/$1/b"/Morvex*.log* 2> /dev/null | awk '
    function t(    x) { split($2, x, ":"); return x[1] * 3600 + x[2] * 60 + x[3] }
    /Issuing SyncOnce/ { if (issued == "") issued = t(); passes++ }
    /\[Rename/ { if (first == "") first = t(); last = t(); renamed++ }
    END {
      if (issued == "") { print "no pass in the log"; exit }
      printf "passes issued %d, files put in place %d, first +%.2f s, last +%.2f s after the first pass was issued",
        passes, renamed, first - issued, last - issued
    }'
}

error_summary() {  # error_summary DATASET: "errorsA/errorsB timeoutsA/timeoutsB"
  local ds=$1 label ea eb ta tb
  ea=$(cat "$logs/$ds/a"/Morvex*.log* 2> /dev/null | grep -c '^E[0-9]' || true)
  eb=$(cat "$logs/$ds/b"/Morvex*.log* 2> /dev/null | grep -c '^E[0-9]' || true)
  ta=$(cat "$logs/$ds/a"/Morvex*.log* 2> /dev/null | grep -c 'Timeout Occurs' || true)
  tb=$(cat "$logs/$ds/b"/Morvex*.log* 2> /dev/null | grep -c 'Timeout Occurs' || true)
  echo "$ea/$eb $ta/$tb"
}

# ----- profile -----

perf_pids=()
start_perf() {
  local label
  perf_pids=()
  for label in a b; do
    perf record ${PERF_CG:---call-graph dwarf,16384 -F 999} -o "$work/perf-$label.data" -p "${svc_pid[$label]}" > "$work/perf-$label.out" 2>&1 &
    perf_pids+=($!); pids+=($!)
  done
  sleep 0.5  # perf attaches
}
stop_perf() {
  local p
  for p in "${perf_pids[@]}"; do stop_pid "$p" INT 60; forget_pid "$p"; done
  perf_pids=()
  mkdir -p "$logs/profile"
  cp "$work"/perf-?.data "$logs/profile/" 2> /dev/null || true
}

# Self time of one service, three ways: perf report's top symbols; by family
# (RSA/bignum, AES, SHA-1, MD5, memcpy, SQLite, kernel, ...), where a sample
# in Debian's stripped libcrypto is named after the first frame up its call
# chain that says what it is (BN_*, EVP_Encrypt*, RsaKey::Sign, GetSha1, Md5,
# ...); and by the innermost morvex function on the chain.
perf_summary() {
  local label=$1 data=$work/perf-$label.data report=$logs/profile/perf-$label.txt
  if [ ! -s "$data" ]; then echo "  (no perf data for $label: $(tail -2 "$work/perf-$label.out" | tr '\n' ' '))"; return; fi
  perf report -i "$data" --stdio --no-children --sort dso,symbol -g none --percent-limit 0.05 2> /dev/null > "$report" || true
  perf report -i "$data" --stdio --no-children --percent-limit 1 2> /dev/null > "$logs/profile/perf-$label-callgraph.txt" || true
  perf script -i "$data" -F comm,tid,ip,sym,dso 2> /dev/null > "$work/perf-$label.script" || true
  echo "  samples: $(grep -m1 '^# Samples' "$report" | sed 's/^# //')"
  echo "  top symbols (perf report --stdio --no-children --sort dso,symbol, self %):"
  grep -v '^#' "$report" | grep '%' | awk 'NR <= 15 { printf "    %7s  %-18s %s %s\n", $1, $2, $3, $4 }' || true
  awk -v out="$work/perf-$label.callers" '
    function family(    i, s, leaf) {
      leaf = tolower(sym[1] " " dso[1])
      if (dso[1] ~ /kernel/) return "kernel (syscalls: network, file I/O, page faults)"
      if (dso[1] ~ /libcrypto/ || leaf ~ /rsakey|aescipher|md5|sha1/) {
        for (i = 1; i <= n; i++) {
          s = tolower(sym[i])
          if (s ~ /md5/) return "MD5"
          if (s ~ /sha1|getsha1/) return "SHA-1"
          if (s ~ /rsakey|rsaoperation|^bn_|rsa_|evp_pkey_sign|evp_pkey_encrypt|evp_pkey_decrypt/) return "RSA / bignum"
          if (s ~ /aescipher|aesni|^aes_|evp_cipher|evp_encrypt|evp_decrypt/) return "AES"
        }
        return "libcrypto (other)"
      }
      if (leaf ~ /mem(cpy|move|set|cmp)/) return "memcpy / memmove / memset"
      if (dso[1] ~ /sqlite/) return "SQLite"
      if (dso[1] ~ /zmq/) return "ZeroMQ"
      if (dso[1] ~ /protobuf/) return "protobuf"
      if (dso[1] ~ /libstdc/) return "libstdc++"
      if (dso[1] ~ /libc\.so|ld-linux/) return "libc (other)"
      if (dso[1] ~ /morvex/) return "morvex (own code)"
      return "other: " dso[1]
    }
    function caller(    i, s) {
      for (i = 1; i <= n; i++) if (dso[i] ~ /\/morvex$/ && sym[i] ~ /^morvex::/) {
        s = sym[i]; sub(/\+0x[0-9a-f]+$/, "", s)
        gsub(/\(anonymous namespace\)/, "{anon}", s); sub(/\(.*$/, "", s)
        return s
      }
      return "(no morvex:: frame)"
    }
    function flush(    i) {
      # An inlined frame belongs to the object of the frame after it.
      for (i = n - 1; i >= 1; i--) if (dso[i] == "inlined") dso[i] = dso[i + 1]
      if (n > 0) { fam[family()]++; who[caller()]++; total++ }
      n = 0
    }
    /^[^ \t]/ { flush(); next }
    /^[ \t]*$/ { flush(); next }
    {
      line = $0; sub(/^[ \t]+/, "", line)
      sp = index(line, " "); rest = substr(line, sp + 1)
      d = ""
      if (match(rest, / \([^()]*\)$/)) { d = substr(rest, RSTART + 2, RLENGTH - 3); rest = substr(rest, 1, RSTART - 1) }
      n++; sym[n] = rest; dso[n] = d
    }
    END {
      flush()
      for (f in fam) printf "    %6.2f%%  %s\n", 100 * fam[f] / total, f
      for (w in who) printf "    %6.2f%%  %s\n", 100 * who[w] / total, w > out
    }' "$work/perf-$label.script" > "$work/perf-$label.families" || true
  echo "  by family (self time; libcrypto samples named by their call chain):"
  sort -rn -k1 "$work/perf-$label.families" || true
  echo "  by innermost morvex function on the call chain (top 12):"
  sort -rn -k1 "$work/perf-$label.callers" 2> /dev/null | awk 'NR <= 12' || true
}

# ----- one dataset -----

rows=()
phases=()
run_dataset() {
  local ds=$1 dir=$work/$ds a b expect sum_a files bytes cached
  local t0 t1 cp_wall cp_sync rs_wall rs_cpu cached
  a=$dir/alpha; b=$dir/bravo
  mkdir -p "$dir" "$logs/$ds"
  note "== $ds ($(describe "$ds")): making data"
  make_data "$a" "$ds"
  listing "$a" > "$dir/expect.list"
  files=$(wc -l < "$dir/expect.list")
  bytes=$(bytes_under "$a")
  sum_a=$(tree_sum "$a")
  note "$files files, $bytes bytes; tree sum $sum_a"

  # References, $ref_runs runs each, each into a fresh folder; the median
  # counts. The first copy of each is checked against A by checksums.
  local r walls=() syncs=() rwalls=() rcpus=() rc0 rc1 ccpu TIMEFORMAT='%U %S'
  for ((r = 1; r <= ref_runs; r++)); do
    # cp -a, on the same disk
    sync
    t0=$(now); cp -a "$a" "$dir/cp"; t1=$(now); sync
    walls+=("$(minus "$t1" "$t0")"); syncs+=("$(minus "$(now)" "$t0")")
    if ((r == 1)) && [ "$(tree_sum "$dir/cp")" != "$sum_a" ]; then note "cp -a copy differs!"; walls=(BAD); fi
    rm -rf "$dir/cp"; sync
  done
  cp_wall=$(median "${walls[@]}"); cp_sync=$(median "${syncs[@]}")
  note "cp -a: ${walls[*]} s, with sync ${syncs[*]} s (median $cp_wall, $cp_sync)"

  # rsync -a from a daemon in A's namespace into a fresh folder in B's namespace
  start_rsyncd "$a"
  for ((r = 1; r <= ref_runs; r++)); do
    mkdir -p "$dir/rsync"
    rc0=$(sed 's/^.*) //' "/proc/$rsync_pid/stat" | awk '{ print $12 + $13 + $14 + $15 }')
    sync
    t0=$(now)
    ccpu=$( { time ip netns exec "$ns_b" rsync -a "rsync://$addr_a:$rsync_port/bench/" "$dir/rsync/" > /dev/null 2> "$dir/rsync.err"; } 2>&1 | awk '{ printf "%.2f", $1 + $2 }')
    t1=$(now)
    rwalls+=("$(minus "$t1" "$t0")")
    sleep 0.5  # the daemon reaps its connection's process: its CPU lands in cutime/cstime
    rc1=$(sed 's/^.*) //' "/proc/$rsync_pid/stat" | awk '{ print $12 + $13 + $14 + $15 }')
    rcpus+=("$(ticks_s $((rc1 - rc0)))+$ccpu")
    if ((r == 1)) && [ "$(tree_sum "$dir/rsync")" != "$sum_a" ]; then
      note "rsync copy differs! $(head -3 "$dir/rsync.err")"; rwalls=(BAD)
    fi
    rm -rf "$dir/rsync"; sync
  done
  stop_rsyncd
  rs_wall=$(median "${rwalls[@]}")
  rs_cpu=${rcpus[$(( (ref_runs - 1) / 2 ))]}
  note "rsync -a: ${rwalls[*]} s (median $rs_wall; cpu daemon+client per run: ${rcpus[*]})"

  # Morvex
  mkdir -p "$b"
  start_service a "$ns_a" alpha "$dir/meta-a"
  start_service b "$ns_b" bravo "$dir/meta-b"
  pair_services
  note "services paired (alpha ${svc_uuid[a]}, bravo ${svc_uuid[b]})"
  local sync_uuid tree_a tree_b i n idx0 idx_s
  sync_uuid=$(cat /proc/sys/kernel/random/uuid)
  tree_a=$(cat /proc/sys/kernel/random/uuid)
  tree_b=$(cat /proc/sys/kernel/random/uuid)
  idx0=$(now)
  admin a tree-add "$sync_uuid" "$tree_a" "$a"
  n=0
  while :; do
    n=$(indexed_files a "$tree_a")
    ((n >= files)) && break
    if awk -v n="$(now)" -v s="$idx0" -v l="$timeout" 'BEGIN { exit !(n - s > l) }'; then
      note "A indexed only $n of $files files in $timeout s"; break
    fi
    sleep 0.2
  done
  idx_s=$(minus "$(now)" "$idx0")
  wait_idle a 30
  note "A indexed $n files in $idx_s s"
  admin b tree-add "$sync_uuid" "$tree_b" "$b"
  admin a sync-add "$tree_a" "$sync_uuid" "$tree_b" "$b" "${svc_uuid[b]}"
  wait_idle b 10
  sync
  cached=$(cached_pct "$a")
  note "A's data in page cache: $cached%"

  local ca0 cb0 ca1 cb1 passes=1 last_bytes=-1 last_change state="ok" wall wall_sync morvex_sum
  [ "$ds" = profile ] && [ "$use_perf" = 1 ] && start_perf
  ca0=$(cpu_ticks "${svc_pid[a]}"); cb0=$(cpu_ticks "${svc_pid[b]}")
  t0=$(now); last_change=$t0
  admin b sync-add "$tree_b" "$sync_uuid" "$tree_a" "$a" "${svc_uuid[a]}"
  admin b sync-once "$tree_b" "$tree_a"
  local got
  while :; do
    # One walk per poll: the listing is both the test and the progress mark.
    listing "$b" > "$dir/now.list" 2> /dev/null || true
    if cmp -s "$dir/now.list" "$dir/expect.list"; then break; fi
    t1=$(now)
    got=$(cksum < "$dir/now.list")
    if [ "$got" != "$last_bytes" ]; then last_bytes=$got; last_change=$t1; fi
    if awk -v n="$t1" -v s="$t0" -v l="$timeout" 'BEGIN { exit !(n - s > l) }'; then
      state="TIMEOUT"; note "no convergence within $timeout s"; break
    fi
    if awk -v n="$t1" -v c="$last_change" 'BEGIN { exit !(n - c > 15) }'; then
      note "no progress for 15 s: another pass"
      admin b sync-once "$tree_b" "$tree_a" || true
      passes=$((passes + 1)); last_change=$t1
    fi
    sleep 0.2
  done
  t1=$(now)
  ca1=$(cpu_ticks "${svc_pid[a]}"); cb1=$(cpu_ticks "${svc_pid[b]}")
  local ts
  ts=$(now); sync
  wall=$(minus "$t1" "$t0"); wall_sync=$(awk -v w="$wall" -v s="$(minus "$(now)" "$ts")" 'BEGIN { printf "%.2f", w + s }')
  [ "$ds" = profile ] && [ "$use_perf" = 1 ] && stop_perf
  [ "$state" = TIMEOUT ] && wall=">$timeout"
  local ua sa ub sb
  read -r ua sa <<< "$ca0"; read -r ua1 sa1 <<< "$ca1"
  read -r ub sb <<< "$cb0"; read -r ub1 sb1 <<< "$cb1"
  local cpu_a cpu_b split
  cpu_a=$(ticks_s $((ua1 - ua + sa1 - sa))); cpu_b=$(ticks_s $((ub1 - ub + sb1 - sb)))
  split="A user $(ticks_s $((ua1 - ua))) sys $(ticks_s $((sa1 - sa))); B user $(ticks_s $((ub1 - ub))) sys $(ticks_s $((sb1 - sb)))"
  morvex_sum=$(tree_sum "$b")
  if [ "$morvex_sum" != "$sum_a" ]; then note "B's tree differs from A's after convergence!"; state="${state}+DIFF"; fi
  note "morvex: $wall s (with sync $wall_sync s), cpu A $cpu_a s, B $cpu_b s ($split), passes $passes, trees $([ "$morvex_sum" = "$sum_a" ] && echo equal || echo DIFFERENT)"
  stop_service a; stop_service b
  keep_logs "$ds"
  local errs
  errs=$(error_summary "$ds")
  note "log ERROR lines A/B, 'Timeout Occurs' A/B: $errs; B's log: $(b_phases "$ds")"
  phases+=("$(printf '%-8s %s' "$ds" "$(b_phases "$ds")")")
  echo "$split" > "$logs/$ds/cpu-split.txt"
  [ "$ds" = profile ] && profile_split=$split

  # A's and B's data, the metadirs: gone before the next dataset.
  rm -rf "$dir"

  local w=$wall
  [ "$state" = ok ] || w="-"
  rows+=("$(printf '%-8s|%-17s|%-5s|%-7s|%-6s|%-7s|%-7s|%-7s|%-8s|%-8s|%-9s|%-7s|%-6s|%-7s|%-9s|%-6s|%-5s|%-s' \
    "$ds" "$(describe "$ds")" "$state" "$wall" "$passes" "$cpu_a" "$cpu_b" "$idx_s" "$cp_wall" "$cp_sync" "$rs_wall" \
    "$(ratio "$w" "$cp_wall")" "$(ratio "$wall_sync" "$cp_sync")" "$(ratio "$w" "$rs_wall")" "$rs_cpu" "$wall_sync" "$cached%" "$errs")")
}

# ----- main -----

note "work folder $work ($(df -h --output=avail "$work" | tail -1 | tr -d ' ') free), logs $logs"
mkdir -p "$bin"
for p in morvex morvexctl e2e_admin; do cp -a "$src_bin/$p" "$bin/$p"; done
note "binaries from $src_bin (morvex built $(date -r "$src_bin/morvex" '+%F %T'), $(cd "$repo" && git rev-parse --short HEAD 2> /dev/null || echo '?') checked out)"
build_network
profile_split=""
for ds in ${datasets//,/ }; do run_dataset "$ds"; done

set +e +o pipefail
{
  echo
  echo "Morvex sync benchmark, $(date '+%F %T'), $(nproc) CPUs, $(uname -r)$([ "$quick" = 1 ] && echo ', QUICK sizes')"
  echo "Page cache: WARM (caches not dropped; A's data was just written and read by A's indexer, $(free -g | awk '/Mem:/ {print $2}') GiB RAM; 'cache' = share of A's bytes resident just before the clock)."
  echo "morvex s: from B's link + pass request until B lists every file with its size and no *.~morvex file."
  echo "cp -a and rsync: median of $ref_runs runs; sync'd columns include a following \`sync\`; rsync cpu = daemon+client user+sys s of the middle run; errors = log ERROR lines A/B, timeouts = 'Timeout Occurs' A/B."
  echo
  printf '%-8s|%-17s|%-5s|%-7s|%-6s|%-7s|%-7s|%-7s|%-8s|%-8s|%-9s|%-7s|%-6s|%-7s|%-9s|%-6s|%-5s|%-s\n' \
    dataset size state "mvx s" passes "cpu A" "cpu B" "idx A" "cp -a s" "cp+sync" "rsync s" "mvx/cp" "(sync)" "mvx/rs" "rsync cpu" "mvx+sy" "cache" "errors timeouts"
  for r in "${rows[@]}"; do echo "$r"; done
  echo
  echo "B's log (glog times, Issuing SyncOnce and [Rename lines):"
  for r in "${phases[@]}"; do echo "  $r"; done
  echo
  echo "ERROR lines in the services' logs (all datasets, by message):"
  cat "$logs"/*/?/Morvex*.log* 2> /dev/null | grep '^E[0-9]' | sed 's/^[^]]*] //' | sort | uniq -c | sort -rn | awk 'NR <= 10 { print "  " $0 }'
  if [[ ",$datasets," == *,profile,* ]]; then
    echo
    echo "Profile (profile dataset, $(describe profile)): CPU $profile_split"
    if [ "$use_perf" = 1 ]; then
      for label in b a; do
        echo "-- $([ $label = a ] && echo "A (alpha, serving)" || echo "B (bravo, fetching)"): perf record ${PERF_CG:---call-graph dwarf,16384 -F 999} -p PID during the transfer"
        perf_summary "$label"
      done
      echo "(full reports: $logs/profile/perf-{a,b}.txt and perf-{a,b}-callgraph.txt)"
    fi
  fi
} 2>&1 | tee "$logs/results.txt"
