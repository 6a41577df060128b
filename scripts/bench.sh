#!/usr/bin/env bash
# Builds the Release preset and runs the benchmark suite: our cryptography
# beside OpenSSL's, and volume creation beside durable raw writes to the same
# folder, with repetitions; ends with a table of medians, spreads and ratios.
#
#   scripts/bench.sh [extra Google Benchmark flags]
#
# BUILD_DIR (default build/native-release) picks the build folder; the
# creation runs write their files there (deleted after each run), so it must
# be on the disk that is measured. VM_BENCH_CREATE_MB (default 1024) and
# VM_BENCH_REPETITIONS (default 5) are passed through.
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

echo "Machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
# Repetitions of the different benchmarks are interleaved at random, so that a
# slow spell of the disk or the processor falls on ours and the references alike.
VM_BENCH_DIR="$build" "$build/bench/vm_bench" --benchmark_enable_random_interleaving=true "$@"

# OpenSSL chooses its SHA-1 code once per process. A second, short run with
# its SHA extensions masked off gives the reference for our portable path.
if grep -qw sha_ni /proc/cpuinfo; then
  echo
  echo "Key derivation again, with OpenSSL's SHA extensions masked off (reference for the portable path):"
  OPENSSL_ia32cap=":~0x20000000" VM_BENCH_DIR="$build" "$build/bench/vm_bench" \
    --benchmark_filter='pbkdf2|open-header' --benchmark_enable_random_interleaving=true "$@" |
    sed -n '/^Summary/,/^OpenHeader wrong password, port/p'
fi
