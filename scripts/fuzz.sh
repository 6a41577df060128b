#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz": clang, AddressSanitizer and
# UndefinedBehaviorSanitizer); replays each one's past findings in
# fuzz/regressions/<target>/, then fuzzes it from its seeds in
# fuzz/corpus/<target>/.
#
#   scripts/fuzz.sh          short run: about a minute in all
#   scripts/fuzz.sh --long   10 minutes per target, keeping what it learns in
#                            build/fuzz/corpus/<target>/ for the next long run
#
# A finding makes the run exit non-zero once every target has run: the input
# is saved under build/fuzz/findings/ and the command that replays it is
# printed. At the end
# a table gives the inputs each target ran without a finding.
set -euo pipefail
cd "$(dirname "$0")/.."

long=0
case "${1:-}" in
  "") ;;
  --long) long=1 ;;
  *)
    echo "usage: scripts/fuzz.sh [--long]" >&2
    exit 2
    ;;
esac

scripts/deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

# Seconds per target in the short run. The targets that derive a key from a
# password run a few dozen inputs a second; the others many thousands.
targets=(open_header reseal_header create_volume change_password mount_command driver_records
  drive_scan recent_entries color_text)
short_seconds=(8 8 8 8 8 5 5 5 5)

build=build/fuzz
findings=$build/findings
mkdir -p "$findings"
results=()
status=0
for i in "${!targets[@]}"; do
  target=${targets[$i]}
  fuzzer=$build/fuzz/${target}_fuzz
  log=$build/$target.log

  regressions=(fuzz/regressions/"$target"/*)
  if [ -e "${regressions[0]}" ] && ! "$fuzzer" "${regressions[@]}" >"$log" 2>&1; then
    echo "== $target: a past finding is back"
    grep -E "Running:|check failed|ERROR|SUMMARY" "$log" || tail -n 30 "$log"
    status=1
    results+=("$target REGRESSION")
    continue
  fi

  if [ "$long" = 1 ]; then
    seconds=600
    work=$build/corpus/$target
    mkdir -p "$work"
  else
    seconds=${short_seconds[$i]}
    work=$(mktemp -d)
  fi
  echo "== $target: ${seconds} s"
  # New inputs go to the first folder; the committed seeds are only read.
  if "$fuzzer" -max_total_time="$seconds" -timeout=30 -print_final_stats=1 \
    -artifact_prefix="$findings/$target-" "$work" "fuzz/corpus/$target" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    results+=("$target ${runs:-?}")
  else
    grep -E "check failed|ERROR|SUMMARY|Test unit written" "$log" || tail -n 30 "$log"
    sed -n "s|.*Test unit written to \(.*\)$|replay: $fuzzer \1|p" "$log"
    status=1
    results+=("$target FINDING")
  fi
  [ "$long" = 1 ] || rm -rf "$work"
done

printf '\n%-18s %12s\n' target "inputs run"
for result in "${results[@]}"; do
  # shellcheck disable=SC2086
  printf '%-18s %12s\n' $result
done
exit "$status"
