#!/usr/bin/env bash
# The Linux mount end to end, with the built command-line tool and Debian's
# file-system tools: for every algorithm and both header placements a FAT
# and an ext4 file system are made on MOUNTPOINT/volume, filled, unmounted
# and read back from a new mount; then the faults of a mount.
#   mount_test.sh CLI
# Needs /dev/fuse (as root, or for a user where fusermount3 may mount). The
# faults that need a small file system of their own (a full disk, a disk
# that turns read-only) run only as root with loop devices.
set -euo pipefail
cli=$1
dir=$(mktemp -d)
mounts=()
cleanup() {
  for m in "${mounts[@]}"; do fusermount3 -u -z "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true; done
  rm -rf "$dir"
}
trap cleanup EXIT

fail() {
  echo "FAILED: $1" >&2
  [ -f "$dir/err" ] && { echo "--- stderr:" >&2; cat "$dir/err" >&2; }
  exit 1
}

# vm ARGS...: the tool with the password "pw" on standard input; the exit
# code in $code, standard error in $dir/err.
vm() {
  code=0
  printf 'pw\npw\n' | "$cli" "$@" --password-stdin >"$dir/out" 2>"$dir/err" || code=$?
}
expect() {  # expect CODE TEXT WHAT
  [ "$code" -eq "$1" ] || fail "$3: exit code $code, wanted $1"
  [ -z "$2" ] || grep -qF -- "$2" "$dir/out" "$dir/err" || fail "$3: no '$2'"
}
mounted() { mountpoint -q "$1"; }
# The sum of the header's bytes: the last 1044 bytes of the file holding it.
header_sum() { tail -c 1044 "$1" | sha256sum; }

mkdir -p "$dir/m" "$dir/files"
mounts+=("$dir/files" "$dir/m")
head -c 300000 /dev/urandom >"$dir/data.bin"
echo "a small text" >"$dir/note.txt"

# ---------------------------------------------------------------------------
# Files in a volume, for every algorithm and header placement.
for algorithm in aes-128 aes-256 blowfish-128 blowfish-448; do
  for placement in inside external; do
    what="$algorithm, header $placement"
    v="$dir/$algorithm-$placement.vmv"
    header=()
    holder=$v
    if [ $placement = external ]; then header=(--header "$dir/$algorithm.ehb"); holder=$dir/$algorithm.ehb; fi
    vm create "$v" --size 8 --algorithm $algorithm "${header[@]}"
    expect 0 "successfully created" "$what: create"
    sum=$(header_sum "$holder")

    # FAT, filled with mtools; read back from a read-only mount.
    vm mount "$v" "$dir/m" "${header[@]}"
    expect 0 "Velmorcrypt volume successfully mounted." "$what: mount"
    [ "$(stat -c %s "$dir/m/volume")" -eq 8388608 ] || fail "$what: the disk is not the body's size"
    cmp -s <(head -c 4096 "$dir/m/volume") <(head -c 4096 /dev/zero) || fail "$what: a new body is not zeros"
    mkfs.fat "$dir/m/volume" >/dev/null
    mmd -i "$dir/m/volume" ::/docs
    mcopy -i "$dir/m/volume" "$dir/data.bin" ::/data.bin
    mcopy -i "$dir/m/volume" "$dir/note.txt" ::/docs/note.txt
    vm unmount "$dir/m"
    expect 0 "" "$what: unmount"
    mounted "$dir/m" && fail "$what: still mounted after unmount"
    vm mount "$v" "$dir/m" "${header[@]}" --read-only
    expect 0 "mounted" "$what: mount read-only"
    fsck.fat -n "$dir/m/volume" >/dev/null || fail "$what: the FAT is damaged"
    cmp -s <(mtype -i "$dir/m/volume" ::/data.bin) "$dir/data.bin" || fail "$what: FAT file differs"
    [ "$(mtype -i "$dir/m/volume" ::/docs/note.txt)" = "a small text" ] || fail "$what: FAT note differs"
    if dd if=/dev/zero of="$dir/m/volume" bs=512 count=1 conv=notrunc 2>"$dir/err"; then
      fail "$what: a write through a read-only mount succeeded"
    fi
    grep -q "Read-only file system" "$dir/err" || fail "$what: a read-only write did not fail with EROFS"
    vm unmount "$dir/m"

    # ext4, filled through the folder that --files shows (fuse2fs), which
    # unmount takes away first; checked with e2fsck.
    vm mount "$v" "$dir/m" "${header[@]}"
    mkfs.ext4 -q -F "$dir/m/volume"
    vm unmount "$dir/m"
    vm mount "$v" "$dir/m" "${header[@]}" --files "$dir/files"
    expect 0 "The volume's files are in $dir/files." "$what: mount with --files"
    mkdir "$dir/files/docs"
    cp "$dir/data.bin" "$dir/files/data.bin"
    cp "$dir/note.txt" "$dir/files/docs/note.txt"
    vm unmount "$dir/m"
    expect 0 "" "$what: unmount with the files shown"
    mounted "$dir/files" && fail "$what: the files' folder stayed"
    vm mount "$v" "$dir/m" "${header[@]}" --read-only
    e2fsck -fn "$dir/m/volume" >/dev/null 2>&1 || fail "$what: the ext4 file system is damaged"
    vm unmount "$dir/m"
    vm mount "$v" "$dir/m" "${header[@]}" --read-only --files "$dir/files"
    cmp -s "$dir/files/data.bin" "$dir/data.bin" || fail "$what: ext4 file differs"
    cmp -s "$dir/files/docs/note.txt" "$dir/note.txt" || fail "$what: ext4 note differs"
    vm unmount "$dir/m"
    [ "$(header_sum "$holder")" = "$sum" ] || fail "$what: the header was written"
  done
done
echo "mount_test.sh: files in volumes of every algorithm and header placement"

# ---------------------------------------------------------------------------
# Faults.
v=$dir/aes-128-inside.vmv
sum=$(header_sum "$v")

vm mount "$v" "$dir/nowhere"
expect 1 "does not exist" "a missing mount point"
touch "$dir/plain-file"
vm mount "$v" "$dir/plain-file"
expect 1 "is not a folder" "a mount point that is a file"
vm mount "$dir/missing.vmv" "$dir/m"
expect 1 "Error opening Velmorcrypt volume." "a missing volume"
code=0
printf 'wrong\n' | "$cli" mount "$v" "$dir/m" --password-stdin 2>"$dir/err" || code=$?
expect 1 "Error decrypting header information with the supplied password." "a wrong password"
mounted "$dir/m" && fail "a wrong password mounted"
head -c 1045 /dev/zero >"$dir/long.ehb"
vm mount "$dir/aes-128-external.vmv" "$dir/m" --header "$dir/long.ehb"
expect 1 "Error reading external header block." "a header block that does not fit"
vm mount "$v" "$dir/m" --size 3
expect 2 "unknown option" "an unknown option"
vm mount "$v" "$dir/m" --foreground --files "$dir/files"
expect 2 "do not go together" "--files with --foreground"
vm create "$dir/fat.vmv" --size 1
vm mount "$dir/fat.vmv" "$dir/m"
mkfs.fat "$dir/m/volume" >/dev/null
vm unmount "$dir/m"
vm mount "$dir/fat.vmv" "$dir/m" --files "$dir/files"
expect 1 "FAT file system, which --files cannot show" "--files on a FAT disk"
mounted "$dir/m" && fail "a mount whose files could not be shown stayed"

vm mount "$v" "$dir/m"
expect 0 "mounted" "mount for the faults"
mkdir -p "$dir/m2"
mounts+=("$dir/m2")
vm mount "$v" "$dir/m2"
expect 1 "is mounted already" "a volume mounted elsewhere"
mounted "$dir/m2" && fail "a volume was mounted twice"
vm mount "$dir/aes-256-inside.vmv" "$dir/m"
expect 1 "mounted on" "a busy mount point"
vm unmount "$dir/m2"
expect 1 "no velmorcrypt volume is mounted" "unmount of a plain folder"

# Partial sectors, a write past the end, fsync, a busy unmount.
printf 'patched' | dd of="$dir/m/volume" bs=1 seek=1000 conv=notrunc 2>/dev/null
[ "$(dd if="$dir/m/volume" bs=1 skip=1000 count=7 2>/dev/null)" = patched ] || fail "a partial sector write"
if printf 'x' | dd of="$dir/m/volume" bs=1 seek=8388608 conv=notrunc 2>"$dir/err"; then
  fail "a write past the end succeeded"
fi
grep -q "No space left on device" "$dir/err" || fail "a write past the end did not fail with ENOSPC"
printf 'synced' | dd of="$dir/m/volume" bs=1 seek=4096 conv=notrunc,fsync 2>/dev/null || fail "fsync through the mount"
# A mount made by root reads ahead 4 MiB, not the kernel's 128 KiB.
if [ "$(id -u)" -eq 0 ]; then
  [ "$(cat "/sys/class/bdi/$(mountpoint -d "$dir/m")/read_ahead_kb")" = 4096 ] ||
    fail "the mount's readahead was not raised"
fi
# A write-only open writes past the page cache: a read, before and after
# such writes of 1 MiB, sees each one.
for pass in 1 2; do
  head -c 1048576 /dev/urandom >"$dir/stream"
  dd if="$dir/stream" of="$dir/m/volume" bs=1M seek=2 conv=notrunc 2>/dev/null
  cmp -s <(dd if="$dir/m/volume" bs=1M skip=2 count=1 2>/dev/null) "$dir/stream" ||
    fail "a read after a write-only open's write, pass $pass"
done
exec 4<"$dir/m/volume"
vm unmount "$dir/m"
expect 1 "could not unmount" "unmount while the disk is open"
mounted "$dir/m" || fail "a busy mount was ended"
exec 4<&-

# SIGTERM ends the mount cleanly; what was written stays.
pid=$(getfattr --only-values -n user.velmorcrypt.pid "$dir/m")
kill -TERM "$pid"
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
kill -0 "$pid" 2>/dev/null && fail "SIGTERM did not end the server"
mounted "$dir/m" && fail "SIGTERM left the mount"
# In the foreground, Ctrl+C (SIGINT) unmounts and the command ends with 0.
printf 'pw\n' | "$cli" mount "$v" "$dir/m" --read-only --foreground --password-stdin >"$dir/out" 2>"$dir/err" &
foreground=$!
for _ in $(seq 100); do mounted "$dir/m" && break; sleep 0.05; done
[ "$(dd if="$dir/m/volume" bs=1 skip=4096 count=6 2>/dev/null)" = synced ] || fail "lost after SIGTERM"
kill -INT $foreground
code=0
wait $foreground || code=$?
expect 0 "Ctrl+C unmounts" "a foreground mount ended by Ctrl+C"
mounted "$dir/m" && fail "Ctrl+C left the mount"
[ "$(header_sum "$v")" = "$sum" ] || fail "the header was written"

# A volume file cut short while mounted: what is gone reads and writes as
# EIO, what is left stays readable, and the file never grows back.
vm mount "$v" "$dir/m"
truncate -s 4194304 "$v"
dd if="$dir/m/volume" of=/dev/null bs=4096 skip=1536 count=1 iflag=direct 2>"$dir/err" \
  && fail "a read of a cut-off part succeeded"
grep -q "Input/output error" "$dir/err" || fail "a cut-off read did not fail with EIO"
if dd if=/dev/zero of="$dir/m/volume" bs=4096 count=1 conv=notrunc 2>"$dir/err"; then
  fail "a write to a cut-short volume file succeeded"
fi
[ "$(dd if="$dir/m/volume" bs=1 skip=1000 count=7 iflag=direct 2>/dev/null)" = patched ] || fail "written data lost after the cut"
vm unmount "$dir/m"
[ "$(stat -c %s "$v")" -eq 4194304 ] || fail "the cut-short volume file grew back"
echo "mount_test.sh: mount point, volume, password, busy, SIGTERM and cut-short faults"

# An ordinary user's mount through fusermount3, where /dev/fuse lets users
# in (as root here, the test takes the user "nobody").
if [ "$(id -u)" -eq 0 ] && [ -r /dev/fuse ] && [ -w /dev/fuse ] &&
  [ "$(stat -c %a /dev/fuse | cut -c3)" = 6 ]; then
  mkdir "$dir/user"
  cp "$dir/fat.vmv" "$dir/user/v.vmv"
  mkdir "$dir/user/m"
  chown -R nobody "$dir/user"
  chmod 755 "$dir"
  mounts+=("$dir/user/m")
  setpriv --reuid=nobody --regid=nogroup --clear-groups sh -c \
    'printf "pw\n" | "$1" mount "$2/v.vmv" "$2/m" --password-stdin >/dev/null &&
     mdir -i "$2/m/volume" >/dev/null && "$1" unmount "$2/m"' sh "$cli" "$dir/user" \
    || fail "a user's mount"
  mounted "$dir/user/m" && fail "a user's mount stayed"
  echo "mount_test.sh: a user's mount"
else
  echo "mount_test.sh: skipped a user's mount (it needs root to take a user, and /dev/fuse open to users)"
fi

# A disk that fills up and a disk that turns read-only under the mount: a
# small ext4 file system of its own on a loop device.
if [ "$(id -u)" -ne 0 ] || ! losetup -f >/dev/null 2>&1; then
  echo "mount_test.sh: skipped the full and read-only disk faults (they need root and loop devices)"
  exit 0
fi
truncate -s 24M "$dir/small.img"
mkfs.ext4 -q "$dir/small.img"
mkdir "$dir/small"
mount -o loop,errors=remount-ro "$dir/small.img" "$dir/small"
mounts+=("$dir/small")
v=$dir/small/v.vmv
vm create "$v" --size 8
sum=$(header_sum "$v")
fallocate -p -o 4194304 -l 1048576 "$v"  # a hole in the body that needs room again
head -c 30M /dev/zero >"$dir/small/filler" 2>/dev/null || true
vm mount "$v" "$dir/m"
printf 'kept' | dd of="$dir/m/volume" bs=1 seek=100 conv=notrunc,fsync 2>/dev/null || fail "a write where the file has room"
if dd if=/dev/urandom of="$dir/m/volume" bs=65536 count=16 seek=64 conv=notrunc,fsync 2>"$dir/err"; then
  fail "a write to a full disk succeeded"
fi
grep -q "No space left on device" "$dir/err" || fail "a write to a full disk did not fail with ENOSPC"
[ "$(dd if="$dir/m/volume" bs=1 skip=100 count=4 2>/dev/null)" = kept ] || fail "data lost on a full disk"

echo 1 >"/sys/fs/ext4/$(basename "$(findmnt -no SOURCE "$dir/small")")/trigger_fs_error"
if printf 'late' | dd of="$dir/m/volume" bs=1 seek=200 conv=notrunc 2>"$dir/err"; then
  fail "a write to a read-only disk succeeded"
fi
grep -q "Read-only file system" "$dir/err" || fail "a write to a read-only disk did not fail with EROFS"
[ "$(dd if="$dir/m/volume" bs=1 skip=100 count=4 2>/dev/null)" = kept ] || fail "data lost on a read-only disk"
vm unmount "$dir/m"
[ "$(header_sum "$v")" = "$sum" ] || fail "the header was written on a failing disk"
echo "mount_test.sh: full and read-only disk faults"
