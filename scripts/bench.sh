#!/usr/bin/env bash
# Builds the Release preset and runs the benchmarks, each figure beside its
# reference measured in the same run: our cryptography beside OpenSSL's, the
# VAES path beside the AES-NI path, Blowfish creation on every core beside
# one core's sector speed, and volume creation beside durable raw writes to
# the same folder (the pairs alternate their order), the Linux mount beside a
# plain file and gocryptfs, the Linux folder beside a plain folder, gocryptfs
# and fuse2fs on a plain image, export and import beside cp, and the
# stand-in driver under Wine beside the plain volume file (from the Windows
# build). Ends with one table of
# medians, spreads, ratios, goals and the processor features each path used.
#
#   scripts/bench.sh [extra Google Benchmark flags]
#
# BUILD_DIR (default build/native-release) picks the build folder; the
# creation runs write their files there (deleted after each run), so it must
# be on the disk that is measured. VM_BENCH_CREATE_MB (default 1024) and
# VM_BENCH_REPETITIONS (default 5) are passed through. VM_BENCH_MOUNT_MB
# (default 512), VM_BENCH_EXPORT_MB (default 1024) and VM_BENCH_DRIVER_MB
# (default 256) are the sizes of the Linux mount's, export's and the
# stand-in driver's runs; VM_BENCH_PAIRS picks
# some of the pairs below by name.
#
# Each pair of measurements is one function below that prints its lines of
# the summary table; a new pair is a new function added to PAIRS.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
build=${BUILD_DIR:-build/native-release}

cmake --preset native-release -B "$build" >/dev/null
cmake --build "$build" --target vm_bench velmorcrypt-cli -j "$(nproc)"

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

# Processor time a process has used so far, in clock ticks (0 without one).
ticks() { [ -n "$1" ] && awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }

# Runs a command that moves $mb_io MiB. Sets io_speed to its MiB/s by the
# wall clock and io_cpu to the processor milliseconds per MiB that it and
# the process SERVER (the file system's own, if any) used.
#   io_run SERVER COMMAND...
io_run() {
  local server=$1 before after start end times
  shift
  before=$(ticks "$server")
  start=$(date +%s%N)
  times=$( { TIMEFORMAT='%U %S'; time "$@" >/dev/null 2>&1; } 2>&1)
  end=$(date +%s%N)
  after=$(ticks "$server")
  io_speed=$(awk -v mb="$mb_io" -v ns=$((end - start)) 'BEGIN { printf "%.1f", mb * 1e9 / ns }')
  io_cpu=$(awk -v mb="$mb_io" -v t="$times" -v d=$((after - before)) -v hz="$(getconf CLK_TCK)" \
    'BEGIN { split(t, a, " "); printf "%.3f", (a[1] + a[2] + d / hz) * 1e3 / mb }')
}

# The median of a list of figures.
median() { echo "$1" | tr ' ' '\n' | sed '/^$/d' | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# "NAME median MiB/s ± spread" of a list of figures, the spread being
# (max - min) / median.
stats() {
  echo "$1" | tr ' ' '\n' | sed '/^$/d' | sort -g | awk -v name="$2" '{ v[NR] = $1 } END {
    m = v[int((NR + 1) / 2)]; printf "%-12s %8.1f MiB/s ± %3.0f%%", name, m, 100 * (v[NR] - v[1]) / m }'
}

# Lines of the summary from lists of figures (MiB/s, one per repetition):
# the medians and spreads, and the ratio of our median to each reference's.
#   io_line WHAT OURS [REF_NAME REF GOAL]...
io_line() {
  local what=$1 ours=$2
  shift 2
  printf '%-34s %s\n' "$what" "$(stats "$ours" ours)"
  while [ $# -ge 3 ]; do
    printf '%-34s %s  ratio %5.2fx  goal %s\n' "" "$(stats "$2" "$1")" \
      "$(awk -v o="$(median "$ours")" -v r="$(median "$2")" 'BEGIN { print o / r }')" "$3"
    shift 3
  done
}

# The mount's disk (MOUNTPOINT/volume) against a plain file in the same
# folder and a file in a gocryptfs folder there: 1 MiB writes flushed with
# fdatasync, then 1 MiB reads, each run after the page cache was dropped:
# the writes find no page of the file cached, and each read comes from the
# disk (and, for the two encrypted ones, is decrypted).
# The three go in a different order in each repetition. Needs root (to drop
# the caches) and /dev/fuse.
pair_linux_mount() {
  local what="Linux mount against a plain file and gocryptfs"
  if [ "$(id -u)" != 0 ] || [ ! -c /dev/fuse ]; then
    echo "$what: not measured (needs root and /dev/fuse)" >>"$summary"
    return 0
  fi
  command -v gocryptfs >/dev/null || apt-get install -y -q --no-install-recommends gocryptfs
  mb_io=${VM_BENCH_MOUNT_MB:-512}
  local reps=${VM_BENCH_REPETITIONS:-5} cli=$build/cli/velmorcrypt-cli
  local dir
  dir=$(realpath "$(mktemp -d "$build/mount-bench.XXXXXX")")
  # shellcheck disable=SC2064
  trap "fusermount3 -u -z '$dir/mnt' 2>/dev/null || true; fusermount3 -u -z '$dir/plain.g' 2>/dev/null || true; rm -rf '$dir' '$summary' '$log'" EXIT
  mkdir "$dir/mnt" "$dir/cipher.g" "$dir/plain.g"
  printf 'bench\nbench\n' | "$cli" create "$dir/bench.vmv" --size "$mb_io" --algorithm aes-256 \
    --filesystem none --password-stdin >/dev/null
  printf 'bench\n' | "$cli" mount "$dir/bench.vmv" "$dir/mnt" --disk --password-stdin >/dev/null
  echo bench >"$dir/password"
  gocryptfs -q -init -passfile "$dir/password" "$dir/cipher.g" >/dev/null 2>&1
  gocryptfs -q -passfile "$dir/password" "$dir/cipher.g" "$dir/plain.g" >/dev/null 2>&1
  local -A target=([ours]=$dir/mnt/volume [plain]=$dir/plain.file [gocryptfs]=$dir/plain.g/file)
  local -A server=([ours]=$(findmnt -rn -o SOURCE "$dir/mnt" | sed -n 's/^velmorcrypt://p')
    [plain]="" [gocryptfs]=$(pgrep -n -x gocryptfs))
  local -A writes reads write_cpu read_cpu
  local order=(ours plain gocryptfs) rep name
  for ((rep = 0; rep < reps; rep++)); do
    for name in "${order[@]}"; do
      sync
      echo 3 >/proc/sys/vm/drop_caches
      io_run "${server[$name]}" dd if=/dev/zero of="${target[$name]}" bs=1M count="$mb_io" conv=fdatasync,notrunc
      writes[$name]+=" $io_speed"
      write_cpu[$name]+=" $io_cpu"
    done
    for name in "${order[@]}"; do
      sync
      echo 3 >/proc/sys/vm/drop_caches
      io_run "${server[$name]}" dd if="${target[$name]}" of=/dev/null bs=1M
      reads[$name]+=" $io_speed"
      read_cpu[$name]+=" $io_cpu"
    done
    order=("${order[@]:1}" "${order[0]}")
  done
  "$cli" unmount "$dir/mnt" >/dev/null
  fusermount3 -u "$dir/plain.g"
  {
    echo
    echo "Linux mount (AES-256), $mb_io MiB in 1 MiB requests, medians of $reps ± spread:"
    io_line "durable writes (dd conv=fdatasync)" "${writes[ours]}" "plain file" "${writes[plain]}" ">= 0.6x" \
      gocryptfs "${writes[gocryptfs]}" ">= 2x"
    io_line "reads, page cache dropped" "${reads[ours]}" "plain file" "${reads[plain]}" "(none)" \
      gocryptfs "${reads[gocryptfs]}" ">= 1.5x"
    # Where the time goes: the processor time of dd and of the file
    # system's server for each MiB. When a pair's speeds are close while
    # these differ, the disk set the pace.
    printf '%-34s processor ms per MiB written (dd + server): ours %s, plain file %s, gocryptfs %s\n' \
      "" "$(median "${write_cpu[ours]}")" "$(median "${write_cpu[plain]}")" "$(median "${write_cpu[gocryptfs]}")"
    printf '%-34s processor ms per MiB read (dd + server): ours %s, plain file %s, gocryptfs %s\n' \
      "" "$(median "${read_cpu[ours]}")" "$(median "${read_cpu[plain]}")" "$(median "${read_cpu[gocryptfs]}")"
  } >>"$summary"
  rm -rf "$dir"
  trap 'rm -f "$summary" "$log"' EXIT
}

# Seconds of a list of runs: "NAME median s ± spread".
secs() {
  echo "$1" | tr ' ' '\n' | sed '/^$/d' | sort -g | awk -v name="$2" '{ v[NR] = $1 } END {
    m = v[int((NR + 1) / 2)]; printf "%-22s %7.2f s ± %3.0f%%", name, m, 100 * (v[NR] - v[1]) / m }'
}

# The folder as a user has it: a tree of small files (/usr/share/doc) and
# one large file copied in, then sync, into a plain folder, a gocryptfs
# folder, our volume's folder as root (the kernel's ext4 on a loop device
# over our disk), the same volume through fuse2fs (--fuse) and fuse2fs on a
# plain image file with the same options. In turns, the page cache dropped
# before each copy. Needs root and /dev/fuse.
pair_linux_folder() {
  local what="Linux folder against a plain folder, gocryptfs and fuse2fs on a plain image"
  if [ "$(id -u)" != 0 ] || [ ! -c /dev/fuse ]; then
    echo "$what: not measured (needs root and /dev/fuse)" >>"$summary"
    return 0
  fi
  local reps=${VM_BENCH_FOLDER_REPETITIONS:-3} cli=$build/cli/velmorcrypt-cli tree=/usr/share/doc
  local large_mb=${VM_BENCH_LARGE_MB:-256} dir size name rep
  dir=$(realpath "$(mktemp -d "$build/folder-bench.XXXXXX")")
  size=$(($(du -sm "$tree" | cut -f1) * 3 + large_mb * 2 + 64))
  # shellcheck disable=SC2064
  trap "for m in k f p plain.g; do umount '$dir/\$m' 2>/dev/null || true; done; rm -rf '$dir' '$summary' '$log'" EXIT
  mkdir "$dir/k" "$dir/f" "$dir/p" "$dir/cipher.g" "$dir/plain.g" "$dir/plain"
  head -c "${large_mb}M" /dev/urandom >"$dir/large.bin"
  printf 'bench\nbench\n' | "$cli" create "$dir/k.vmv" --size "$size" --algorithm aes-256 \
    --filesystem ext4 --password-stdin >/dev/null
  printf 'bench\nbench\n' | "$cli" create "$dir/f.vmv" --size "$size" --algorithm aes-256 \
    --filesystem ext4 --password-stdin >/dev/null
  printf 'bench\n' | "$cli" mount "$dir/k.vmv" "$dir/k" --password-stdin >/dev/null
  printf 'bench\n' | "$cli" mount "$dir/f.vmv" "$dir/f" --fuse --password-stdin >/dev/null
  truncate -s "${size}M" "$dir/image"
  mkfs.ext4 -q -F "$dir/image"
  # With the options the mount gives fuse2fs as root: the kernel checks the
  # owners and modes (default_permissions), which costs fuse2fs a request
  # for each check, as it lets no attribute be cached.
  fuse2fs -o rw,allow_other,default_permissions,nosuid,nodev "$dir/image" "$dir/p"
  echo bench >"$dir/password"
  gocryptfs -q -init -passfile "$dir/password" "$dir/cipher.g" >/dev/null 2>&1
  gocryptfs -q -passfile "$dir/password" "$dir/cipher.g" "$dir/plain.g" >/dev/null 2>&1
  local -A target=([plain]=$dir/plain [gocryptfs]=$dir/plain.g [ours-root]=$dir/k
    [ours-fuse2fs]=$dir/f [fuse2fs-image]=$dir/p)
  local -A small large
  local order=(ours-root plain gocryptfs ours-fuse2fs fuse2fs-image) start
  for ((rep = 0; rep < reps; rep++)); do
    for name in "${order[@]}"; do
      rm -rf "${target[$name]:?}/doc" "${target[$name]:?}/large.bin"
      sync
      echo 3 >/proc/sys/vm/drop_caches
      start=$(date +%s%N)
      cp -r "$tree" "${target[$name]}/doc" && sync
      small[$name]+=" $(awk -v ns=$(($(date +%s%N) - start)) 'BEGIN { print ns / 1e9 }')"
      start=$(date +%s%N)
      cp "$dir/large.bin" "${target[$name]}/" && sync
      large[$name]+=" $(awk -v ns=$(($(date +%s%N) - start)) 'BEGIN { print ns / 1e9 }')"
    done
    order=("${order[@]:1}" "${order[0]}")
  done
  "$cli" unmount "$dir/k" >/dev/null
  "$cli" unmount "$dir/f" >/dev/null
  umount "$dir/p"
  fusermount3 -u "$dir/plain.g"
  ratio() { awk -v a="$(median "$1")" -v b="$(median "$2")" 'BEGIN { printf "%.2fx", a / b }'; }
  {
    echo
    echo "Linux folder (AES-256, ext4 in the volume): $(du -sh "$tree" | cut -f1) of small files ($tree) and one ${large_mb} MiB file, each copied in and synced; medians of $reps ± spread:"
    for kind in small large; do
      local -n times=$kind
      printf '  %-6s' "$kind"
      for name in plain gocryptfs ours-root ours-fuse2fs fuse2fs-image; do printf ' %s |' "$(secs "${times[$name]}" "$name")"; done
      echo
      printf '  %-6s ours as root beside gocryptfs: %s faster (goal >= 3x on small files); fuse2fs on ours beside fuse2fs on an image: %s the time (goal <= 1.3x)\n' \
        "" "$(ratio "${times[gocryptfs]}" "${times[ours-root]}")" "$(ratio "${times[ours-fuse2fs]}" "${times[fuse2fs-image]}")"
    done
  } >>"$summary"
  rm -rf "$dir"
  trap 'rm -f "$summary" "$log"' EXIT
}

# Export and import beside cp of the same bytes, each durable (cp then
# sync of the copy; export and import flush their files): the volume's body
# decrypted into an image, and that image encrypted into a new volume. The
# page cache is dropped before each run, the four runs take turns. Needs
# root.
pair_export_import() {
  local what="Export and import against cp"
  if [ "$(id -u)" != 0 ]; then
    echo "$what: not measured (needs root to drop the page cache)" >>"$summary"
    return 0
  fi
  mb_io=${VM_BENCH_EXPORT_MB:-1024}
  local reps=${VM_BENCH_REPETITIONS:-5} cli=$build/cli/velmorcrypt-cli dir rep name
  dir=$(realpath "$(mktemp -d "$build/export-bench.XXXXXX")")
  # shellcheck disable=SC2064
  trap "rm -rf '$dir' '$summary' '$log'" EXIT
  printf 'bench\nbench\n' | "$cli" create "$dir/v.vmv" --size "$mb_io" --algorithm aes-256 \
    --filesystem none --password-stdin >/dev/null
  printf 'bench\n' | "$cli" export "$dir/v.vmv" "$dir/image" --password-stdin >/dev/null 2>&1
  local -A speed
  local order=(export cp-volume import cp-image)
  for ((rep = 0; rep < reps; rep++)); do
    for name in "${order[@]}"; do
      rm -f "$dir/out"
      sync
      echo 3 >/proc/sys/vm/drop_caches
      case $name in
        export) io_run "" sh -c "printf 'bench\n' | '$cli' export '$dir/v.vmv' '$dir/out' --password-stdin" ;;
        import) io_run "" sh -c "printf 'bench\nbench\n' | '$cli' import '$dir/image' '$dir/out' --algorithm aes-256 --password-stdin" ;;
        cp-volume) io_run "" sh -c "cp '$dir/v.vmv' '$dir/out' && sync '$dir/out'" ;;
        cp-image) io_run "" sh -c "cp '$dir/image' '$dir/out' && sync '$dir/out'" ;;
      esac
      speed[$name]+=" $io_speed"
    done
    order=("${order[@]:1}" "${order[0]}")
  done
  {
    echo
    echo "Export and import (AES-256), $mb_io MiB, durable, page cache dropped, medians of $reps ± spread:"
    io_line "export (body decrypted to an image)" "${speed[export]}" "cp of the volume" "${speed[cp-volume]}" ">= 0.8x"
    io_line "import (image encrypted to a volume)" "${speed[import]}" "cp of the image" "${speed[cp-image]}" ">= 0.8x"
  } >>"$summary"
  rm -rf "$dir"
  trap 'rm -f "$summary" "$log"' EXIT
}

# The stand-in driver under Wine, from the Windows build: 1 MiB writes and
# reads and 4 KiB random reads through \\.\X: against ReadFile/WriteFile on
# the plain volume file, and where each request's time goes.
pair_standin_driver() {
  local windows=build/windows
  cmake --preset windows >/dev/null
  cmake --build "$windows" --target vm_driver_bench -j "$(nproc)" >/dev/null
  cmake/wine-run.sh "$windows/bench/vm_driver_bench.exe" >"$log" 2>&1 || {
    echo "Stand-in driver under Wine: the benchmark failed:" >>"$summary"
    tail -5 "$log" >>"$summary"
    return 0
  }
  cat "$log" >>"$summary"
}

PAIRS=(pair_crypto_and_creation pair_key_derivation_without_sha_extensions pair_linux_mount
  pair_linux_folder pair_export_import pair_standin_driver)
# VM_BENCH_PAIRS="pair_linux_mount ..." runs only those.
if [ -n "${VM_BENCH_PAIRS:-}" ]; then read -r -a PAIRS <<<"$VM_BENCH_PAIRS"; fi

echo "Machine: $(machine)"
for pair in "${PAIRS[@]}"; do "$pair" "$@"; done
echo
echo "Machine: $(machine) (at the end)"
cat "$summary"
