#!/usr/bin/env bash
# Volume care end to end, with the built tool and Debian's file-system
# tools: one table that grows volumes of every algorithm in both header
# placements, with and without --grow-filesystem, their files kept and
# their checkers clean; a real SIGKILL and a Ctrl+C in the middle of a
# growth; check on sound and damaged volumes (never writing); export and
# import round trips, their refusals, and nothing left on a full disk.
#   volume_care_test.sh CLI
# Needs root and /dev/fuse (the file systems are reached through the mount).
set -euo pipefail
cli=$(realpath "$1")
dir=$(realpath "$(mktemp -d)")
cleanup() {
  for m in $(findmnt -rn -o TARGET | grep -E "^$dir/|velmorcrypt-disk-" | sort -r); do umount -l "$m" 2>/dev/null || true; done
  rm -rf "$dir"
}
trap cleanup EXIT
. "$(dirname "$0")/tool_test_support.sh"
sums() { sha256sum "$dir"/*.vmv* "$dir"/*.ehb 2>/dev/null || true; }
[ "$(id -u)" -eq 0 ] || { echo "volume_care_test.sh: skipped (the file systems need root and loop devices)"; exit 0; }
mkdir -p "$dir/m"
head -c 3000000 /dev/urandom >"$dir/data.bin"

# ---------------------------------------------------------------------------
# The table: file system | algorithm | header | --grow-filesystem
rows=(
  "ext4|aes-128|inside|grow" "ext4|aes-256|external|grow" "ntfs|blowfish-128|inside|grow"
  "ntfs|blowfish-448|external|grow" "ext4|blowfish-128|external|" "ntfs|aes-128|external|"
  "ext4|blowfish-448|inside|" "ntfs|aes-256|inside|"
)
for row in "${rows[@]}"; do
  IFS='|' read -r fs algorithm placement grow <<<"$row"
  what="$fs $algorithm, header $placement${grow:+, --grow-filesystem}"
  v=$dir/$fs-$algorithm.vmv header=()
  [ "$placement" = external ] && header=(--header "$v.ehb")
  vm create "$v" --size 12 --filesystem "$fs" --algorithm "$algorithm" "${header[@]}"
  expect 0 "successfully created" "$what: create"
  vm mount "$v" "$dir/m" "${header[@]}"
  cp "$dir/data.bin" "$dir/m/" || fail "$what: copy in"
  vm unmount "$dir/m"
  vm resize "$v" --size 40 "${header[@]}" ${grow:+--grow-filesystem}
  expect 0 "grew from 12 MB to 40 MB" "$what: resize"
  [ "$(stat -c %s "$v")" -eq $((40 * 1048576 + (${#header[@]} ? 0 : 1044))) ] || fail "$what: file size"
  [ ! -e "$v.resize" ] || fail "$what: the journal stayed"
  vm mount "$v" "$dir/m" "${header[@]}" --read-only
  cmp "$dir/data.bin" "$dir/m/data.bin" || fail "$what: the file changed"
  size=$(df -B1M --output=size "$dir/m" | tail -1)
  if [ -n "$grow" ]; then [ "$size" -gt 30 ] || fail "$what: the file system is $size MB"; else [ "$size" -lt 14 ] || fail "$what: grew by itself"; fi
  vm unmount "$dir/m"
  vm check "$v" "${header[@]}"
  if [ "$fs$grow" = ntfs ]; then
    # NTFS that keeps its size lacks its alternate boot sector at the disk's
    # end, which ntfsfix looks for; growing it later at the same size mends it.
    expect 1 "Checking the alternate boot sector... BAD" "$what: check"
    vm resize "$v" --size 40 "${header[@]}" --grow-filesystem
    expect 0 "is 40 MB already" "$what: the file system grown later"
    vm check "$v" "${header[@]}"
  fi
  expect 0 "The volume is sound." "$what: check"
done
echo "volume_care_test.sh: the resize table"

vm create "$dir/x.vmv" --size 8 --filesystem exfat
before=$(sums)
vm resize "$dir/x.vmv" --size 16 --grow-filesystem
expect 1 "no maintained tool here grows; nothing was changed" "exFAT with --grow-filesystem"
[ "$before" = "$(sums)" ] || fail "a refused growth wrote"

# A SIGKILL and a Ctrl+C in the middle of a growth: the volume opens, check
# reports the interrupted growth, resize finishes it, the file system is clean.
v=$dir/kill.vmv
vm create "$v" --size 8 --filesystem ext4 --algorithm blowfish-448
for signal in KILL INT; do
  size=$(($(stat -c %s "$v") / 1048576 + 600))
  printf 'pw\n' | "$cli" resize "$v" --size "$size" --password-stdin >"$dir/out" 2>"$dir/err" &
  for _ in $(seq 200); do [ -e "$v.resize" ] && break; sleep 0.01; done
  sleep 0.2
  kill -s "$signal" $!
  if { wait $!; } 2>/dev/null; then fail "the $signal did not stop the growth"; fi
  vm info "$v"
  expect 0 "Body:" "after SIG$signal: info"
  vm check "$v"
  expect 1 "MB was interrupted" "after SIG$signal: check"
  vm resize "$v" --size "$size"
  expect 0 "grew" "after SIG$signal: finished"
  vm check "$v"
  expect 0 "e2fsck -fn: clean" "after SIG$signal: check"
done

# ---------------------------------------------------------------------------
# check on damaged volumes: faults are found, nothing is written.
v=$dir/ext4-aes-128.vmv
vm mount "$v" "$dir/m" --disk
dd if=/dev/urandom of="$dir/m/volume" bs=4096 seek=2 count=1 conv=notrunc,fsync status=none
vm unmount "$dir/m"
cp "$v" "$dir/cut.vmv"
truncate -s -1000 "$dir/cut.vmv"
before=$(sums)
vm check "$v" --json
expect 1 '"fileSystemCheck": "faults"' "check of a damaged ext4"
jq -e '.sound == false and .headerOpens and (.problems | length) == 1' "$dir/out" >/dev/null || fail "check --json"
vm check "$dir/cut.vmv"
expect 1 "It may have been cut short" "check of a truncated volume"
[ "$before" = "$(sums)" ] || fail "check wrote"

# ---------------------------------------------------------------------------
# export and import: the image is the disk the mount shows, a volume made
# from it holds the same files; padded images; refusals; a full disk.
v=$dir/ext4-aes-256.vmv h=(--header "$v.ehb")
vm export "$v" "$dir/disk.img" "${h[@]}"
expect 0 "Exported the decrypted body" "export"
grep -q "unencrypted" "$dir/err" || fail "export did not warn"
[ "$(stat -c %a "$dir/disk.img")" = 600 ] || fail "the image is not private"
vm mount "$v" "$dir/m" "${h[@]}" --disk --read-only
cmp "$dir/disk.img" "$dir/m/volume" || fail "the image is not the disk"
vm unmount "$dir/m"
e2fsck -fn "$dir/disk.img" >/dev/null 2>&1 || fail "e2fsck on the image"
vm import "$dir/disk.img" "$dir/copy.vmv" --algorithm blowfish-128
expect 0 "successfully created from" "import"
vm mount "$dir/copy.vmv" "$dir/m" --read-only
cmp "$dir/data.bin" "$dir/m/data.bin" || fail "the imported volume's file"
vm unmount "$dir/m"
head -c 1572864 /dev/urandom >"$dir/odd.img"
vm import "$dir/odd.img" "$dir/odd.vmv" --algorithm aes-256
vm info "$dir/odd.vmv"
expect 0 "(2 MB)" "a padded import"
vm export "$dir/odd.vmv" "$dir/odd.out"
{ cat "$dir/odd.img"; head -c 524288 /dev/zero; } | cmp - "$dir/odd.out" || fail "the padded round trip"

vm export "$v" "$dir/disk.img" "${h[@]}"
expect 1 "exists; use --force" "export over a file"
mkfifo "$dir/fifo"
vm export "$v" "$dir/fifo" "${h[@]}"
expect 1 "exists; use --force" "export to a pipe"
vm create "$dir/fifo" --size 1
expect 1 "exists; use --force" "create over a pipe"
head -c 1000 /dev/zero >"$dir/short.img"
vm import "$dir/short.img" "$dir/short.vmv" --algorithm aes-128
expect 1 "not a whole number of 512-byte sectors" "an image of 1000 bytes"
truncate -s $((999999 * 1048576 + 512)) "$dir/huge.img"
vm import "$dir/huge.img" "$dir/huge.vmv" --algorithm aes-128
expect 1 "larger than the largest volume" "an image too large"
vm mount "$v" "$dir/m" "${h[@]}"
vm export "$v" "$dir/busy.img" "${h[@]}"
expect 1 "mounted read-write" "export of a mounted volume"
vm unmount "$dir/m"
mkdir "$dir/small"
mount -t tmpfs -o size=4m tmpfs "$dir/small"
vm export "$v" "$dir/small/disk.img" "${h[@]}"
expect 1 "not enough free space" "export to a full disk"
vm import "$dir/disk.img" "$dir/small/v.vmv" --algorithm aes-128
expect 1 "Volume size is too large for the specified drive." "import to a full disk"
[ -z "$(ls -A "$dir/small")" ] || fail "a refused copy left a file"
umount "$dir/small"
[ ! -e "$dir/short.vmv" ] && [ ! -e "$dir/huge.vmv" ] && [ ! -e "$dir/busy.img" ] || fail "a refusal left a file"
echo "volume_care_test.sh: all passed"
