#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build folder for a set time and prints,
# per target, the inputs it ran (libFuzzer's "#N DONE" line). New inputs go
# to <build>/corpus/<target>; crashing inputs to <build>/crashes/<target>.
# A crash found is fixed in the code and its input kept under
# tests/fuzz/regressions/<target>/, which ctest replays.
# Usage: run-fuzz.sh <fuzz build folder> <seconds per target>
set -uo pipefail
build=${1:?fuzz build folder}
seconds=${2:-60}
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
targets=(envelope_fuzz discovery_fuzz path_rules_fuzz listing_fuzz part_answer_fuzz)
failed=()
summary=()
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  crashes="$build/crashes/$target"
  mkdir -p "$corpus" "$crashes"
  log="$build/fuzz-$target.log"
  echo "== $target: ${seconds}s"
  inputs=("$corpus" "$source_dir/tests/fuzz/corpus/$target")
  if [ -d "$source_dir/tests/fuzz/regressions/$target" ]; then inputs+=("$source_dir/tests/fuzz/regressions/$target"); fi
  "$build/bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$crashes/" "${inputs[@]}" >"$log" 2>&1
  status=$?
  runs=$(grep -Eo '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 | grep -Eo '[0-9]+' || true)
  if [ "$status" -ne 0 ]; then
    failed+=("$target")
    summary+=("$target: FAILED (exit $status; see $log and $crashes)")
    tail -30 "$log"
  else
    summary+=("$target: ${runs:-?} inputs run in ${seconds}s")
  fi
done
echo "== fuzz summary"
printf '%s\n' "${summary[@]}"
[ ${#failed[@]} -eq 0 ]
