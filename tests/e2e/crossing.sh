#!/usr/bin/env bash
# The same volume on both sides. Windows to Linux: the Windows tool (under
# Wine) creates a volume, the program's mount command mounts it through the
# stand-in driver and a FAT image made by Linux tools is written to the
# drive sector by sector; the Linux tool mounts the volume and reads the
# files back. Linux to Windows: the Linux tool creates, mounts, formats and
# fills a volume; the stand-in driver serves it under Wine and the drive's
# sectors, read into an image, are checked with the Linux tools. Then
# passwords beyond ASCII between the window and both tools.
#   crossing.sh WINDOWS_CLI CROSSING_HELPER WINE_RUNNER NATIVE_CLI
set -euo pipefail
wincli=$1
helper=$2
wine_run=$3
cli=$4
[ -x "$cli" ] || { echo "crossing.sh: build the native tool first (cmake --preset native; $cli)" >&2; exit 1; }
dir=$(mktemp -d)
mkdir "$dir/m"
cleanup() {
  fusermount3 -u -z "$dir/m" 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT
fail() { echo "FAILED: $1" >&2; exit 1; }
# Wine sees the Unix file system as drive Z:.
dos() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }

head -c 200000 /dev/urandom >"$dir/data.bin"
echo "from the other side" >"$dir/note.txt"

# Checks the files of the FAT on image or disk $1.
check_fat() {
  fsck.fat -n "$1" >/dev/null || fail "$2: the FAT is damaged"
  cmp -s <(mtype -i "$1" ::/data.bin) "$dir/data.bin" || fail "$2: data.bin differs"
  [ "$(mtype -i "$1" ::/docs/note.txt)" = "from the other side" ] || fail "$2: note.txt differs"
}
fill_fat() {
  mkfs.fat "$1" >/dev/null
  mmd -i "$1" ::/docs
  mcopy -i "$1" "$dir/data.bin" ::/data.bin
  mcopy -i "$1" "$dir/note.txt" ::/docs/note.txt
}

# Windows to Linux.
for case in "aes-128 inside" "blowfish-448 external"; do
  set -- $case
  what="Windows to Linux, $1, header $2"
  v=$dir/w-$1.vmv
  header=() wheader=(-) winheader=()
  if [ "$2" = external ]; then
    header=(--header "$dir/w-$1.ehb") wheader=("$(dos "$dir/w-$1.ehb")") winheader=(--header "$(dos "$dir/w-$1.ehb")")
  fi
  printf 'pw\npw\n' | "$wine_run" "$wincli" create "$(dos "$v")" --size 4 --algorithm "$1" "${winheader[@]}" --password-stdin >/dev/null \
    || fail "$what: the Windows tool did not create the volume"
  truncate -s 4M "$dir/fat.img"
  fill_fat "$dir/fat.img"
  "$wine_run" "$helper" write "$(dos "$v")" "${wheader[0]}" pw "$(dos "$dir/fat.img")" || fail "$what: writing the drive"
  printf 'pw\n' | "$cli" mount "$v" "$dir/m" "${header[@]}" --disk --read-only --password-stdin >/dev/null || fail "$what: mount on Linux"
  cmp -s "$dir/m/volume" "$dir/fat.img" || fail "$what: the disk differs from what the drive received"
  check_fat "$dir/m/volume" "$what"
  "$cli" unmount "$dir/m" || fail "$what: unmount"
  rm "$dir/fat.img"
done

# Linux to Windows.
for case in "aes-256 external" "blowfish-128 inside"; do
  set -- $case
  what="Linux to Windows, $1, header $2"
  v=$dir/l-$1.vmv
  header=() wheader=(-)
  if [ "$2" = external ]; then header=(--header "$dir/l-$1.ehb") wheader=("$(dos "$dir/l-$1.ehb")"); fi
  printf 'pw\npw\n' | "$cli" create "$v" --size 4 --algorithm "$1" "${header[@]}" --password-stdin >/dev/null
  printf 'pw\n' | "$cli" mount "$v" "$dir/m" "${header[@]}" --disk --password-stdin >/dev/null || fail "$what: mount on Linux"
  fill_fat "$dir/m/volume"
  "$cli" unmount "$dir/m" || fail "$what: unmount"
  "$wine_run" "$helper" read "$(dos "$v")" "${wheader[0]}" pw "$(dos "$dir/drive.img")" || fail "$what: reading the drive"
  [ "$(stat -c %s "$dir/drive.img")" -eq 4194304 ] || fail "$what: the drive is not the body's size"
  check_fat "$dir/drive.img" "$what"
  rm "$dir/drive.img"
done
# Passwords beyond ASCII, with Wine as a Western system (code page 1252) and
# as a Cyrillic one (1251; Wine takes its ANSI code page from LC_ALL): a
# volume made in the window opens in the Windows tool and the Linux tool (in
# that code page), and one made by the Linux tool opens in the Windows tool
# and the window.
for case in "Grüße C.UTF-8" "Пароль ru_RU.UTF-8 --codepage 1251"; do
  set -- $case
  pw=$1 locale=$2
  shift 2
  what="'$pw' in Wine's $locale"
  onwine() { LC_ALL=$locale "$wine_run" "$@"; }
  w=$dir/window-$locale.vmv l=$dir/linux-$locale.vmv
  printf '%s\n' "$pw" | onwine "$helper" create-in-window "$(dos "$w")" || fail "$what: creating in the window"
  printf '%s\n' "$pw" | onwine "$wincli" info "$(dos "$w")" --password-stdin >/dev/null ||
    fail "$what: the Windows tool did not open the window's volume"
  printf '%s\n' "$pw" | "$cli" info "$w" "$@" --password-stdin >/dev/null ||
    fail "$what: the Linux tool did not open the window's volume"
  printf '%s\n%s\n' "$pw" "$pw" | "$cli" create "$l" --size 1 --filesystem none "$@" --password-stdin >/dev/null
  printf '%s\n' "$pw" | onwine "$wincli" info "$(dos "$l")" --password-stdin >/dev/null ||
    fail "$what: the Windows tool did not open the Linux tool's volume"
  printf '%s\n' "$pw" | onwine "$helper" mount-in-window "$(dos "$l")" ||
    fail "$what: the window did not mount the Linux tool's volume"
done
echo "crossing.sh: volumes carried from Windows to Linux and back"

# Files, not only sectors. An NTFS image written through the drive under
# Wine shows its files in a Linux folder (ntfs-3g serves NTFS here), and a
# volume that `create --filesystem` formatted on Linux and filled through
# its folder reads back through the drive under Wine.
if [ "$(id -u)" -ne 0 ] || ! command -v ntfs-3g >/dev/null; then
  echo "crossing.sh: skipped the files' crossing (it needs root for loop devices, and ntfs-3g)"
  exit 0
fi
mkdir -p "$dir/files/Übersicht" "$dir/image-view"
cp "$dir/data.bin" "$dir/files/"
echo "naïve café" >"$dir/files/Übersicht/note.txt"
v=$dir/w-ntfs.vmv
printf 'pw\npw\n' | "$wine_run" "$wincli" create "$(dos "$v")" --size 8 --password-stdin >/dev/null ||
  fail "NTFS to a folder: the Windows tool did not create the volume"
truncate -s 8M "$dir/ntfs.img"
mkntfs -Q -F -q "$dir/ntfs.img" >/dev/null 2>&1
ntfs-3g "$dir/ntfs.img" "$dir/image-view" && cp -r "$dir/files/." "$dir/image-view/" && umount "$dir/image-view"
"$wine_run" "$helper" write "$(dos "$v")" - pw "$(dos "$dir/ntfs.img")" || fail "NTFS to a folder: writing the drive"
printf 'pw\n' | "$cli" mount "$v" "$dir/m" --read-only --password-stdin >/dev/null || fail "NTFS to a folder: mount on Linux"
diff -r "$dir/files" "$dir/m" || fail "NTFS to a folder: the folder's files differ"
"$cli" unmount "$dir/m" || fail "NTFS to a folder: unmount"
for fs in ntfs fat; do
  what="create --filesystem $fs to the drive"
  v=$dir/l-$fs.vmv
  printf 'pw\npw\n' | "$cli" create "$v" --size 8 --filesystem $fs --password-stdin >/dev/null || fail "$what: create"
  if [ $fs = ntfs ]; then
    printf 'pw\n' | "$cli" mount "$v" "$dir/m" --password-stdin >/dev/null || fail "$what: mount"
    cp -r "$dir/files/." "$dir/m/"
  else
    printf 'pw\n' | "$cli" mount "$v" "$dir/m" --disk --password-stdin >/dev/null || fail "$what: mount"
    MTOOLS_SKIP_CHECK=1 mcopy -s -i "$dir/m/volume" "$dir/files/"* ::/
  fi
  "$cli" unmount "$dir/m" || fail "$what: unmount"
  "$wine_run" "$helper" read "$(dos "$v")" - pw "$(dos "$dir/drive.img")" || fail "$what: reading the drive"
  if [ $fs = ntfs ]; then
    ntfsfix -n "$dir/drive.img" >/dev/null || fail "$what: ntfsfix found faults"
    ntfs-3g -o ro "$dir/drive.img" "$dir/image-view" || fail "$what: the drive's image does not mount"
    same=0
    diff -r "$dir/files" "$dir/image-view" || same=1
    umount "$dir/image-view"
  else
    fsck.fat -n "$dir/drive.img" >/dev/null || fail "$what: fsck.fat found faults"
    same=0
    MTOOLS_SKIP_CHECK=1 mcopy -s -i "$dir/drive.img" ::/ "$dir/image-view/" || same=1
    diff -r "$dir/files" "$dir/image-view" || same=1
    rm -rf "${dir:?}/image-view/"*
  fi
  [ $same -eq 0 ] || fail "$what: the files read through the drive differ"
  rm "$dir/drive.img"
done
echo "crossing.sh: files carried both ways (NTFS in a Linux folder, create --filesystem through the drive)"
