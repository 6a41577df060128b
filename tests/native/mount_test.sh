#!/usr/bin/env bash
# The Linux mount end to end, with the built tool and Debian's file-system
# tools. One table over file systems, each by the way this machine offers it
# (as root: the kernel's driver where it has one, else the FUSE server; FAT
# without the kernel's vfat through --disk and mtools): create, mount, copy
# a tree with non-ASCII names and a large file in, unmount, read it back
# read-only, the file system's checker clean, nothing left mounted or
# attached. Then fio's verified writes, the fsync-then-SIGKILL writer, the
# faults of a mount, what the mount trusts (planted attributes, FIFOs,
# decoy mounts, links swapped into the path), and an ordinary user's mount.
#   mount_test.sh CLI
# Needs /dev/fuse; the table and most faults need root (loop devices).
set -euo pipefail
cli=$(realpath "$1")
dir=$(realpath "$(mktemp -d)")
# Private disks and folders already there (other tests'), which this test leaves alone.
{ ls -d /run/velmorcrypt-disk-* /tmp/velmorcrypt-disk-*; findmnt -rn -o TARGET -t fuse.velmorcrypt; } >"$dir/before" 2>/dev/null || true
cleanup() {
  [ -z "${writer:-}" ] || kill -KILL "$writer" 2>/dev/null || true  # never left writing into the folder
  for m in $(findmnt -rn -o TARGET | grep -E "^$dir/" | sort -r); do umount -l "$m" 2>/dev/null || true; done
  left | while read -r kind m; do [ "$kind" = disk ] && umount -l "$m" || rmdir "$m"; done 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
. "$(dirname "$0")/tool_test_support.sh"
mounted() { mountpoint -q "$1"; }
# What this test's mounts left (not other tests' on the machine): private
# disks whose server holds one of its files or died, their loop devices,
# private folders that are no mount and were not there before.
left() {
  findmnt -rn -o TARGET,SOURCE -t fuse.velmorcrypt | grep " velmorcrypt:[0-9]*$" | while read -r target source; do
    if [ -d "/proc/${source#*:}" ]; then find "/proc/${source#*:}/fd" -lname "$dir/*" 2>/dev/null | grep -q . || continue
    elif grep -qxF "$target" "$dir/before"; then continue; fi
    echo "disk $target" && losetup -l -n -O NAME,BACK-FILE | grep -F "$target/" | sed 's/^/loop /'
  done
  for d in /run/velmorcrypt-disk-* /tmp/velmorcrypt-disk-*; do
    [ ! -d "$d" ] || mountpoint -q "$d" || grep -qxF "$d" "$dir/before" || echo "folder $d"
  done
}
clean() {
  [ -z "$(left)" ] || fail "$1: left behind: $(left | tr '\n' ' ')"
  ! mounted "$dir/m" || fail "$1: $dir/m stayed mounted"
}
# The private disk under the view on FOLDER (through its loop device), and its server.
disk_of() { local s; s=$(findmnt -n -o SOURCE "$1"); [[ $s != /dev/loop* ]] || s=$(losetup -n -O BACK-FILE "$s"); dirname "$s"; }
server_pid() { findmnt -n -o SOURCE "$(disk_of "$1")" | sed -n 's/^velmorcrypt://p'; }
view_pid() { pgrep -f -- "$(disk_of "$1")/volume /proc/self/fd/3"; }
[ "$(id -u)" -eq 0 ] || { echo "mount_test.sh: skipped (the file systems' views need root and loop devices)"; exit 0; }
mkdir -p "$dir/m" "$dir/tree/Übersicht/日本語"
head -c 5000000 /dev/urandom >"$dir/tree/large.bin"
echo "a small text" >"$dir/tree/Übersicht/naïve café.txt"
echo "さようなら" >"$dir/tree/Übersicht/日本語/ファイル.txt"

# ---------------------------------------------------------------------------
# The table: file system | mount options | checker on the raw disk | algorithm | header
rows=(
  "ext4|      |e2fsck -fn|aes-128|inside"
  "ext4|--fuse|e2fsck -fn|blowfish-448|external"
  "ntfs|      |ntfsfix -n|aes-256|external"
  "exfat|     |fsck.exfat -n|blowfish-128|inside"
  "fat|--disk |fsck.fat -n|aes-256|inside"
)
for row in "${rows[@]}"; do
  IFS='|' read -r fs options checker algorithm placement <<<"$row"
  read -r -a options <<<"$options"
  what="$fs ${options[*]:-} ($algorithm, header $placement)"
  v=$dir/$fs${options[0]:-}.vmv header=()
  [ "$placement" = external ] && header=(--header "$v.ehb")
  vm create "$v" --size 24 --filesystem "$fs" --algorithm "$algorithm" "${header[@]}"
  expect 0 "successfully created" "$what: create"
  if [ "$fs" = fat ] && ! grep -qw vfat /proc/filesystems; then
    vm mount "$v" "$dir/m" "${header[@]}"
    expect 1 "mount with --disk and use mtools" "$what: FAT without the kernel's vfat"
    clean "$what: the refused FAT mount"
  fi
  vm mount "$v" "$dir/m" "${header[@]}" "${options[@]}"
  expect 0 "successfully mounted" "$what: mount"
  if [ "${options[0]:-}" = --disk ]; then
    MTOOLS_SKIP_CHECK=1 mcopy -s -i "$dir/m/volume" "$dir/tree" ::/ || fail "$what: mcopy"
  else
    grep -q "The volume's files ($fs" "$dir/out" || fail "$what: the files' server was not named"
    cp -r "$dir/tree" "$dir/m/" || fail "$what: copying the tree in"
  fi
  vm unmount "$dir/m"
  expect 0 "" "$what: unmount"
  clean "$what: after unmount"
  vm mount "$v" "$dir/m" "${header[@]}" "${options[@]}" --read-only
  expect 0 "mounted" "$what: mount read-only"
  if [ "${options[0]:-}" = --disk ]; then
    MTOOLS_SKIP_CHECK=1 mcopy -s -i "$dir/m/volume" ::/tree "$dir/back" || fail "$what: mcopy back"
    diff -r "$dir/tree" "$dir/back" || fail "$what: the files differ"
    rm -rf "$dir/back"
  else
    diff -r "$dir/tree" "$dir/m/tree" || fail "$what: the files differ"
    loop=$(findmnt -n -o SOURCE "$dir/m")
    [[ $loop != /dev/loop* ]] || [ "$(losetup -n -O RO "$loop" | tr -d ' ')" = 1 ] || fail "$what: the loop device is not read-only"
    if touch "$dir/m/new" 2>"$dir/err"; then fail "$what: a read-only view took a file"; fi
    grep -q "Read-only file system" "$dir/err" || fail "$what: no EROFS"
    findmnt -n -o OPTIONS "$(disk_of "$dir/m")" | grep -qE '(^|,)ro(,|$)' || fail "$what: the disk is not read-only"
  fi
  vm unmount "$dir/m"
  vm mount "$v" "$dir/m" "${header[@]}" --disk --read-only
  $checker "$dir/m/volume" >"$dir/err" 2>&1 || fail "$what: $checker found faults"
  vm unmount "$dir/m"
  clean "$what: at the end"
done
echo "mount_test.sh: the table over file systems"

# ---------------------------------------------------------------------------
# fio's verified writes (several jobs, sizes that are no multiple of a
# sector) on the disk and on a large file in the folder, verified again from
# a new mount.
fio_run() { # fio_run FILE SIZE [--verify_only]; fio keeps its verify state in the current folder
  (cd "$dir" && fio --name=verified --filename="$1" --size="$2" --numjobs=3 --offset_increment="$2" \
    --rw=randwrite --bsrange=1000-70000 --bs_unaligned=1 --ioengine=psync --verify=crc32c \
    --do_verify=1 --group_reporting "${@:3}" >"$dir/err" 2>&1)
}
# mount option | file under the mount | size per job
for row in "--disk|volume|6M" "|big.bin|8M"; do
  IFS='|' read -r option file size <<<"$row"
  vm create "$dir/fio.vmv" --size 48 --filesystem ext4 --force
  for verify in "" --verify_only; do
    vm mount "$dir/fio.vmv" "$dir/m" $option
    fio_run "$dir/m/$file" "$size" $verify || fail "fio ${verify:+verify }on $file${verify:+ from a new mount}"
    vm unmount "$dir/m"
  done
done
echo "mount_test.sh: fio with verify=crc32c"

# ---------------------------------------------------------------------------
# A writer fsyncs file after file while the mount's server (the disk's, or
# fuse2fs showing the files) is killed: unmount cleans up, and a new mount
# has every confirmed file whole and the checker clean (fuse2fs keeps no
# journal: e2fsck first repairs what the file it was making left).
# round | mount option | server killed | repair
vm create "$dir/kill.vmv" --size 32 --filesystem ext4
for row in "1||server_pid|" "2||server_pid|" "3|--fuse|view_pid|repair"; do
  IFS='|' read -r round option killed repair <<<"$row"
  vm mount "$dir/kill.vmv" "$dir/m" $option
  expect 0 "mounted" "kill round $round: mount"
  rm -f "$dir/m"/r*  # the earlier rounds' files, checked already: room for this round's
  python3 -c '
import os, sys
folder, log, round = sys.argv[1], sys.argv[2], sys.argv[3]
for i in range(100000):
    name = os.path.join(folder, "r%s-%d" % (round, i))
    with open(name, "wb") as f:
        f.write(bytes([i % 251]) * 40000)
        f.flush(); os.fsync(f.fileno())
    d = os.open(folder, os.O_RDONLY); os.fsync(d); os.close(d)
    with open(log, "a") as l: l.write("%d\n" % i)
' "$dir/m" "$dir/confirmed$round" "$round" 2>/dev/null &
  writer=$!
  for _ in $(seq 100); do [ -s "$dir/confirmed$round" ] && break; sleep 0.05; done
  sleep 0.3
  victim=$($killed "$dir/m") && [ -n "$victim" ] || fail "kill round $round: no server found to kill"
  kill -KILL "$victim"
  sleep 0.5
  kill -KILL $writer 2>/dev/null || true
  wait $writer 2>/dev/null || true
  vm unmount "$dir/m"
  expect 0 "" "kill round $round: unmount after the server died"
  clean "kill round $round"
  vm mount "$dir/kill.vmv" "$dir/m"
  while read -r i; do
    cmp -s "$dir/m/r$round-$i" <(head -c 40000 /dev/zero | tr '\0' "\\$(printf '%03o' $((i % 251)))") ||
      fail "kill round $round: confirmed file $i is not whole"
  done <"$dir/confirmed$round"
  vm unmount "$dir/m"
  if [ -n "$repair" ]; then
    vm mount "$dir/kill.vmv" "$dir/m" --disk
    e2fsck -fy "$dir/m/volume" >"$dir/err" 2>&1 || [ $? -eq 1 ] || fail "kill round $round: e2fsck could not repair"
    vm unmount "$dir/m"
  fi
  vm mount "$dir/kill.vmv" "$dir/m" --disk --read-only
  e2fsck -fn "$dir/m/volume" >"$dir/err" 2>&1 || fail "kill round $round: e2fsck found faults"
  vm unmount "$dir/m"
done
echo "mount_test.sh: fsync-then-SIGKILL, three rounds"

# ---------------------------------------------------------------------------
# Faults of a mount.
v=$dir/ext4.vmv
vm mount "$v" "$dir/nowhere"
expect 1 "does not exist" "a missing folder"
touch "$dir/plain-file"
vm mount "$v" "$dir/plain-file"
expect 1 "is not a folder" "a folder that is a file"
mkdir "$dir/full" && touch "$dir/full/x"
vm mount "$v" "$dir/full"
expect 1 "is not empty" "a folder that is not empty"
ln -s "$dir/m" "$dir/link"
vm mount "$v" "$dir/link"
expect 1 "symbolic link" "a folder that is a symbolic link"
vm mount "$v" "$dir/m" --disk --fuse
expect 2 "does not go with it" "--disk with --fuse"
code=0
printf 'wrong\n' | "$cli" mount "$v" "$dir/m" --password-stdin 2>"$dir/err" || code=$?
expect 1 "Error decrypting header information with the supplied password." "a wrong password"
clean "a wrong password"
head -c 1045 /dev/zero >"$dir/long.ehb"
vm mount "$dir/ntfs.vmv" "$dir/m" --header "$dir/long.ehb"
expect 1 "Error reading external header block." "a header block that does not fit"
vm mount "$dir/missing.vmv" "$dir/m"
expect 1 "Error opening Velmorcrypt volume." "a missing volume"
clean "a missing volume"
vm create "$dir/none.vmv" --size 4 --filesystem none
vm mount "$dir/none.vmv" "$dir/m"
expect 0 "holds no file system" "a volume without a file system"
[ -f "$dir/m/volume" ] || fail "a volume without a file system does not show its disk"
mkdir -p "$dir/m2"
vm mount "$dir/none.vmv" "$dir/m2"
expect 1 "is mounted already" "two mounts of one volume"
vm mount "$v" "$dir/m"
expect 1 "mounted on" "a folder in use"
# The disk: partial sectors, the end of the body, read-only.
printf 'patched' | dd of="$dir/m/volume" bs=1 seek=1000 conv=notrunc 2>/dev/null
[ "$(dd if="$dir/m/volume" bs=1 skip=1000 count=7 2>/dev/null)" = patched ] || fail "a partial sector write"
if printf 'x' | dd of="$dir/m/volume" bs=1 seek=4194304 conv=notrunc 2>"$dir/err"; then fail "a write past the end"; fi
grep -q "No space left on device" "$dir/err" || fail "a write past the end did not fail with ENOSPC"
[ "$(cat "/sys/class/bdi/$(mountpoint -d "$dir/m")/read_ahead_kb")" = 4096 ] || fail "the disk's readahead"
# A write through a shared map and one through a write-only open, in one
# page and at once: neither loses the other's sector.
python3 -c '
import mmap, os, sys
path = sys.argv[1]
f = os.open(path, os.O_RDWR); m = mmap.mmap(f, 8192)
m[0:512] = b"M" * 512
w = os.open(path, os.O_WRONLY); os.pwrite(w, b"W" * 512, 512); os.close(w)
m.flush(); m.close(); os.close(f)
r = os.open(path, os.O_RDONLY); data = os.pread(r, 1024, 0)
sys.exit(0 if data == b"M" * 512 + b"W" * 512 else 1)
' "$dir/m/volume" || fail "a mapped write and a write-only open's write lost a sector"
vm unmount "$dir/m"
# A damaged file system: a clear message, nothing left mounted, --disk still works.
cp "$v" "$dir/damaged.vmv"
vm mount "$dir/damaged.vmv" "$dir/m" --disk
dd if=/dev/urandom of="$dir/m/volume" bs=1024 seek=2 count=2 conv=notrunc 2>/dev/null
vm unmount "$dir/m"
vm mount "$dir/damaged.vmv" "$dir/m"
expect 1 "may be damaged" "a damaged file system"
clean "a damaged file system"
vm mount "$dir/damaged.vmv" "$dir/m" --disk
expect 0 "mounted" "--disk on a damaged file system"
vm unmount "$dir/m"
# A full file system, and an unmount while a program uses the files.
vm mount "$dir/exfat.vmv" "$dir/m"
if dd if=/dev/zero of="$dir/m/filler" bs=1M 2>"$dir/err"; then fail "a full file system took more"; fi
grep -q "No space left on device" "$dir/err" || fail "a full file system did not answer ENOSPC"
diff -r "$dir/tree" "$dir/m/tree" || fail "files lost on a full file system"
exec 4<"$dir/m/tree/large.bin"
vm unmount "$dir/m"
expect 1 "is in use" "unmount while a program uses the files"
mounted "$dir/m" || fail "a busy unmount took the files away"
exec 4<&-
rm "$dir/m/filler"
vm unmount "$dir/m"
expect 0 "" "unmount once the files are free"
clean "the busy unmount"
# A view server that fails (a stand-in fuse2fs first on the PATH) leaves
# nothing, its private folder included. stand-in's script | message
mkdir "$dir/shim"
for row in "exit 1|fuse2fs could not show the volume's files" "exit 0|fuse2fs did not mount on"; do
  IFS='|' read -r script message <<<"$row"
  printf '#!/bin/sh\n%s\n' "$script" >"$dir/shim/fuse2fs" && chmod +x "$dir/shim/fuse2fs"
  PATH=$dir/shim:$PATH vm mount "$v" "$dir/m" --fuse
  expect 1 "$message" "a view server that does '$script'"
  clean "a view server that does '$script'"
done
echo "mount_test.sh: faults of the folder, the volume, the disk, the file system and its server"

# The volume file under the disk: cut short while mounted (what is gone
# reads and writes as EIO, what is left stays readable, the file never grows
# back), on a host disk that fills up and then turns read-only (a small ext4
# of its own on a loop device; earlier writes stay readable, the header is
# never written).
vm create "$dir/cut.vmv" --size 8 --filesystem none
vm mount "$dir/cut.vmv" "$dir/m" --disk
printf 'patched' | dd of="$dir/m/volume" bs=1 seek=1000 conv=notrunc,fsync 2>/dev/null
truncate -s 4194304 "$dir/cut.vmv"
if dd if="$dir/m/volume" of=/dev/null bs=4096 skip=1536 count=1 iflag=direct 2>"$dir/err"; then fail "a read of a cut-off part"; fi
grep -q "Input/output error" "$dir/err" || fail "a cut-off read did not fail with EIO"
if dd if=/dev/zero of="$dir/m/volume" bs=4096 count=1 conv=notrunc 2>"$dir/err"; then fail "a write to a cut-short volume file"; fi
[ "$(dd if="$dir/m/volume" bs=1 skip=1000 count=7 iflag=direct 2>/dev/null)" = patched ] || fail "written data lost after the cut"
vm unmount "$dir/m"
[ "$(stat -c %s "$dir/cut.vmv")" -eq 4194304 ] || fail "the cut-short volume file grew back"
truncate -s 24M "$dir/small.img" && mkfs.ext4 -q "$dir/small.img" && mkdir "$dir/small"
mount -o loop,errors=remount-ro "$dir/small.img" "$dir/small"
sv=$dir/small/v.vmv
vm create "$sv" --size 8 --filesystem none
sum=$(tail -c 1044 "$sv" | md5sum)
fallocate -p -o 4194304 -l 1048576 "$sv"  # a hole in the body that needs room again
head -c 30M /dev/zero >"$dir/small/filler" 2>/dev/null || true
vm mount "$sv" "$dir/m" --disk
printf 'kept' | dd of="$dir/m/volume" bs=1 seek=100 conv=notrunc,fsync 2>/dev/null || fail "a write where the file has room"
if dd if=/dev/urandom of="$dir/m/volume" bs=65536 count=16 seek=64 conv=notrunc,fsync 2>"$dir/err"; then fail "a write to a full disk"; fi
grep -q "No space left on device" "$dir/err" || fail "a write to a full disk did not fail with ENOSPC"
echo 1 >"/sys/fs/ext4/$(basename "$(findmnt -no SOURCE "$dir/small")")/trigger_fs_error"
if printf 'late' | dd of="$dir/m/volume" bs=1 seek=200 conv=notrunc,fsync 2>"$dir/err"; then fail "a write to a read-only disk"; fi
grep -q "Read-only file system" "$dir/err" || fail "a write to a read-only disk did not fail with EROFS"
[ "$(dd if="$dir/m/volume" bs=1 skip=100 count=4 2>/dev/null)" = kept ] || fail "data lost on a failing disk"
vm unmount "$dir/m"
[ "$(tail -c 1044 "$sv" | md5sum)" = "$sum" ] || fail "the header was written on a failing disk"
umount "$dir/small"
clean "the failing disks"
echo "mount_test.sh: a volume file cut short, a host disk full and turned read-only"

# SIGTERM to mount and to unmount at every moment: all or nothing.
for delay in 0 0.02 0.05 0.1 0.2 0.3 0.5 0.8; do
  printf 'pw\n' | "$cli" mount "$v" "$dir/m" --password-stdin >/dev/null 2>&1 &
  pid=$!
  sleep $delay
  kill -TERM $pid 2>/dev/null || true
  wait $pid 2>/dev/null || true
  if mounted "$dir/m"; then
    [ -d "$dir/m/tree" ] || fail "SIGTERM after ${delay}s left a mount without its files"
    "$cli" unmount "$dir/m" >/dev/null &
    pid=$!
    sleep $delay
    kill -TERM $pid 2>/dev/null || true
    wait $pid 2>/dev/null || true
    mounted "$dir/m" && { "$cli" unmount "$dir/m" || fail "unmount after a SIGTERM to unmount"; }
  fi
  sleep 0.2
  clean "SIGTERM after ${delay}s"
done
# In the foreground, Ctrl+C unmounts.
printf 'pw\n' | "$cli" mount "$v" "$dir/m" --foreground --password-stdin >"$dir/out" 2>"$dir/err" &
pid=$!
for _ in $(seq 100); do mounted "$dir/m" && break; sleep 0.05; done
[ -d "$dir/m/tree" ] || fail "the foreground mount shows no files"
kill -INT $pid
code=0
wait $pid || code=$?
expect 0 "Ctrl+C unmounts" "a foreground mount ended by Ctrl+C"
clean "Ctrl+C"
echo "mount_test.sh: SIGTERM during mount and unmount, Ctrl+C"

# ---------------------------------------------------------------------------
# What unmount and mount trust. A planted attribute with a FIFO named
# "volume" answers at once.
mkdir "$dir/planted"
setfattr -n user.velmorcrypt.pid -v 1 "$dir/planted"
mkfifo "$dir/planted/volume"
code=0
timeout 10 "$cli" unmount "$dir/planted" 2>"$dir/err" || code=$?
expect 1 "no velmorcrypt volume is mounted" "a planted attribute and a FIFO"
# A decoy FUSE mount named like our disk is neither unmounted by our unmount
# nor taken for ours.
vm mount "$dir/none.vmv" "$dir/m"
mkdir "$dir/cipher" "$dir/decoy"
echo decoy >"$dir/decoy-password"
gocryptfs -q -init -passfile "$dir/decoy-password" "$dir/cipher" >/dev/null 2>&1
gocryptfs -q -passfile "$dir/decoy-password" -fsname "$dir/m/volume" "$dir/cipher" "$dir/decoy" >/dev/null 2>&1
vm unmount "$dir/m"
expect 0 "" "unmount beside a decoy"
mounted "$dir/decoy" || fail "our unmount took the decoy named like our disk"
vm unmount "$dir/decoy"
expect 1 "shows no velmorcrypt volume" "unmount of the decoy"
mounted "$dir/decoy" || fail "the decoy was unmounted"
fusermount3 -u "$dir/decoy"
# A link named as the folder is not followed, and a path swapped while the
# password is typed changes nothing: the mount lands on the folder named.
vm mount "$dir/none.vmv" "$dir/m"
vm unmount "$dir/link"
expect 1 "symbolic link" "unmount through a link"
mounted "$dir/m" || fail "unmount followed a link"
vm unmount "$dir/m"
mkdir -p "$dir/a/m" "$dir/b/m"
mkfifo "$dir/typed"
"$cli" mount "$dir/none.vmv" "$dir/a/m" --password-stdin <"$dir/typed" >/dev/null 2>&1 &
pid=$!
exec 5>"$dir/typed"
sleep 0.3
mv "$dir/a" "$dir/a.held"
ln -s "$dir/b" "$dir/a"
echo pw >&5
exec 5>&-
wait $pid || fail "the mount with a swapped path"
mounted "$dir/b/m" && fail "a path swapped while the password was typed moved the mount"
mounted "$dir/a.held/m" || fail "the held folder was not mounted"
vm unmount "$dir/a.held/m"
echo "mount_test.sh: planted attributes, FIFOs, decoys and swapped links"

# ---------------------------------------------------------------------------
# An ordinary user's mount (the user "nobody"), where /dev/fuse lets users
# in: the files through fuse2fs, a planted attribute with a FIFO, root's
# decoy named like the user's disk, and the unmount as that user.
if [ "$(stat -c %a /dev/fuse | cut -c3)" != 6 ]; then
  echo "mount_test.sh: skipped an ordinary user's mount (/dev/fuse is open to root alone here)"
  exit 0
fi
u=$dir/user
mkdir -p "$u/m" "$u/planted" "$dir/decoy2" && cp "$dir/ext4.vmv" "$u/v.vmv" && mkfifo "$u/planted/volume"
chown -R nobody:nogroup "$u" && chmod 755 "$dir"
export cli && export -f vm expect fail
as_user() { setpriv --reuid=nobody --regid=nogroup --clear-groups env -u XDG_RUNTIME_DIR dir="$u" bash -c "set -eu; $1"; }
as_user 'vm mount "$dir/v.vmv" "$dir/m"; expect 0 "served by fuse2fs" "the user: mount"
  diff -r "$dir/../tree" "$dir/m/tree" || fail "the user: other files"
  setfattr -n user.velmorcrypt.pid -v 1 "$dir/planted"; code=0
  timeout 10 "$cli" unmount "$dir/planted" 2>"$dir/err" || code=$?
  expect 1 "no velmorcrypt volume is mounted" "the user: a planted attribute and FIFO"' || fail "the user's mount"
# Root's decoy, open to the user, carries the name of the user's disk, as the user's view does.
gocryptfs -q -allow_other -passfile "$dir/decoy-password" -fsname "$(findmnt -n -o SOURCE "$u/m")" \
  "$dir/cipher" "$dir/decoy2" >/dev/null 2>&1
as_user 'vm unmount "$dir/../decoy2"; expect 1 "no velmorcrypt volume of yours" "the user: root'"'"'s decoy"
  vm unmount "$dir/m"; expect 0 "" "the user: unmount"' || fail "the user's unmount"
mounted "$dir/decoy2" || fail "a user's unmount took root's decoy"
fusermount3 -u "$dir/decoy2"
clean "an ordinary user's mount"
echo "mount_test.sh: an ordinary user's mount, unmount, planted attribute and decoy"
