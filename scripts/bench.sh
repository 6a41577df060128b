#!/usr/bin/env bash
# Builds the Release preset and runs the benchmarks, each figure beside its
# reference measured in the same run: our cryptography beside OpenSSL's, the
# VAES path beside the AES-NI path, Blowfish creation on every core beside
# one core's sector speed, and volume creation beside durable raw writes to
# the same folder (the pairs alternate their order). Ends with one table of
# medians, spreads, ratios, goals and the processor features each path used.
#
#   scripts/bench.sh [extra Google Benchmark flags]
#
# BUILD_DIR (default build/native-release) picks the build folder; the
# creation runs write their files there (deleted after each run), so it must
# be on the disk that is measured. VM_BENCH_CREATE_MB (default 1024) and
# VM_BENCH_REPETITIONS (default 5) are passed through.
#
# Each pair of measurements is one function below that prints its lines of
# the summary table; a new pair is a new function added to PAIRS.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
build=${BUILD_DIR:-build/native-release}

cmake --preset native-release -B "$build" >/dev/null
cmake --build "$build" --target vm_bench -j "$(nproc)"

mb=${VM_BENCH_CREATE_MB:-1024}
free=$(df -Pk "$build" | awk 'NR == 2 { print int($4 / 1024) }')
if [ "$free" -lt $((mb + 64)) ]; then
  echo "Only $free MiB free in $build; the creation runs need $mb MiB." >&2
  exit 1
fi

summary=$(mktemp)
log=$(mktemp)
trap 'rm -f "$summary" "$log"' EXIT

# With autogroup scheduling the kernel shares the processor between sessions,
# not threads: on a machine busy with other sessions, the benchmark gets its
# session's share however many threads it runs, which the cores that the
# Blowfish creation had show.
machine() {
  local autogroup=""
  [ "$(cat /proc/sys/kernel/sched_autogroup_enabled 2>/dev/null)" = 1 ] &&
    autogroup=", autogroup scheduling"
  echo "$(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)$autogroup"
}

# The cryptography, Blowfish creation without the disk and creation against
# raw writes. Repetitions of the different benchmarks are interleaved at
# random, so that a slow spell of the disk or the processor falls on ours
# and the references alike.
pair_crypto_and_creation() {
  VM_BENCH_DIR="$build" "$build/bench/vm_bench" --benchmark_enable_random_interleaving=true \
    "$@" | tee "$log"
  sed -n '/^Summary/,$p' "$log" >>"$summary"
}

# OpenSSL chooses its SHA-1 code once per process. A second, short run with
# its SHA extensions masked off gives the reference for our portable path.
pair_key_derivation_without_sha_extensions() {
  grep -qw sha_ni /proc/cpuinfo || return 0
  OPENSSL_ia32cap=":~0x20000000" VM_BENCH_DIR="$build" "$build/bench/vm_bench" \
    --benchmark_filter='pbkdf2|open-header' --benchmark_enable_random_interleaving=true "$@" \
    >"$log"
  {
    echo
    echo "Key derivation again, with OpenSSL's SHA extensions masked off (reference for the portable path):"
    grep -E '^(PBKDF2|OpenHeader)' "$log" | grep -E 'portable|port\.'
  } >>"$summary"
}

# Measured once the command-line tool mounts volumes and the stand-in driver's
# throughput is looked at; until then the table says so.
pair_linux_mount() {
  echo "Linux mount against a plain file and gocryptfs: not measured yet" >>"$summary"
}

pair_standin_driver() {
  echo "Stand-in driver under Wine against the plain volume file: not measured yet" >>"$summary"
}

PAIRS=(pair_crypto_and_creation pair_key_derivation_without_sha_extensions pair_linux_mount
  pair_standin_driver)

echo "Machine: $(machine)"
for pair in "${PAIRS[@]}"; do "$pair" "$@"; done
echo
echo "Machine: $(machine) (at the end)"
cat "$summary"
