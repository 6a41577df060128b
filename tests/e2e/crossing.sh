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
  printf 'pw\n' | "$cli" mount "$v" "$dir/m" "${header[@]}" --read-only --password-stdin >/dev/null || fail "$what: mount on Linux"
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
  printf 'pw\n' | "$cli" mount "$v" "$dir/m" "${header[@]}" --password-stdin >/dev/null || fail "$what: mount on Linux"
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
  printf '%s\n%s\n' "$pw" "$pw" | "$cli" create "$l" --size 1 "$@" --password-stdin >/dev/null
  printf '%s\n' "$pw" | onwine "$wincli" info "$(dos "$l")" --password-stdin >/dev/null ||
    fail "$what: the Windows tool did not open the Linux tool's volume"
  printf '%s\n' "$pw" | onwine "$helper" mount-in-window "$(dos "$l")" ||
    fail "$what: the window did not mount the Linux tool's volume"
done
echo "crossing.sh: volumes carried from Windows to Linux and back"
