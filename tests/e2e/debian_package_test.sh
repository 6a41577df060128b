#!/usr/bin/env bash
# The Debian package of the command-line tool, as a Debian user gets it:
# lintian finds no error; its control fields and contents are the ones
# promised; and in a throw-away root (an overlay of this system, as root)
# `apt-get install ./velmorcrypt-cli_<version>_amd64.deb` gives a working
# tool, its manual page and its completion, and `apt-get remove` takes every
# file away again. Without overlays, the contents stand for the install.
# Usage: debian_package_test.sh <velmorcrypt-cli_<version>_amd64.deb> <version>
set -euo pipefail
deb=$(realpath "$1")
version=$2
source "$(dirname "$0")/check_support.sh"
field() { dpkg-deb --field "$deb" "$1"; }
contents=$(dpkg-deb --contents "$deb")
has_file() { grep -q " \./$1\$" <<<"$contents"; }

lintian_code=0
lintian_output=$(lintian --fail-on error "$deb" 2>&1) || lintian_code=$?
grep -v "root privileges" <<<"$lintian_output" || true
check "lintian reports no error" test "$lintian_code" -eq 0
check "named velmorcrypt-cli_${version}_amd64" test "$(field Package)_$(field Version)_$(field Architecture)" = "velmorcrypt-cli_${version}_amd64"
check "depends on libfuse3 and fuse3" bash -c "grep -q 'libfuse3-3' <<<'$(field Depends)' && grep -qw 'fuse3' <<<'$(field Depends)'"
check "recommends the file-system tools" bash -c "for p in dosfstools e2fsprogs fuse2fs exfatprogs exfat-fuse ntfs-3g; do grep -qw \$p <<<'$(field Recommends)' || exit 1; done"
for file in usr/bin/velmorcrypt-cli usr/share/man/man1/velmorcrypt-cli.1.gz \
  usr/share/bash-completion/completions/velmorcrypt-cli usr/share/doc/velmorcrypt-cli/copyright \
  usr/share/doc/velmorcrypt-cli/changelog.gz; do
  check "holds /$file" has_file "$file"
done

# The throw-away root: this system under an overlay whose changes vanish.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/upper" "$scratch/work" "$scratch/root"
cat >"$scratch/inside.sh" <<'EOF'
set -eu
root=$1 deb=$2 version=$3
mount -t overlay overlay -o "lowerdir=/,upperdir=$root/../upper,workdir=$root/../work" "$root"
mount --rbind /dev "$root/dev"
mount -t proc proc "$root/proc"
cp "$deb" "$root/tmp/package.deb"
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"; }
report() { if "$@" >/dev/null 2>&1; then echo "ok   $what"; else echo "FAIL $what"; fi; }
in_root apt-get install -y -q --no-install-recommends /tmp/package.deb >/dev/null 2>&1 ||
  { echo "FAIL apt-get install ./velmorcrypt-cli_${version}_amd64.deb"; exit 0; }
echo "ok   apt-get install ./velmorcrypt-cli_${version}_amd64.deb"
what="velmorcrypt-cli --version names $version"
report in_root sh -c "velmorcrypt-cli --version | grep -q '$version'"
what="the installed tool makes a volume and reads its header"
report in_root sh -c "printf 'pw\npw\n' | velmorcrypt-cli create /tmp/v.vmv --size 1 --filesystem none --password-stdin &&
  printf 'pw\n' | velmorcrypt-cli info /tmp/v.vmv --password-stdin | grep -q AES-128"
what="man velmorcrypt-cli finds its page"
report in_root sh -c "man -w velmorcrypt-cli | grep -q /usr/share/man/man1/velmorcrypt-cli.1.gz"
what="bash completes its commands"
report in_root bash -c "source /usr/share/bash-completion/completions/velmorcrypt-cli &&
  COMP_WORDS=(velmorcrypt-cli cr) COMP_CWORD=1 COMP_LINE='velmorcrypt-cli cr' COMP_POINT=18 &&
  \$(complete -p velmorcrypt-cli | sed -n 's/.*-F \([^ ]*\).*/\1/p') velmorcrypt-cli cr velmorcrypt-cli &&
  [ \"\${COMPREPLY[*]}\" = create ]"
files=$(in_root dpkg-query -L velmorcrypt-cli)
in_root apt-get remove -y -q velmorcrypt-cli >/dev/null 2>&1
what="apt-get remove takes every file away"
left=
for file in $files; do [ -f "$root$file" ] && left="$left $file"; done
report test -z "$left"
[ -z "$left" ] || echo "     left behind:$left"
EOF
if unshare -m sh -c "mount -t tmpfs none '$scratch/root' && umount '$scratch/root'" 2>/dev/null; then
  while IFS= read -r line; do
    echo "$line"
    case $line in ok*) passed=$((passed + 1)) ;; FAIL*) failed=$((failed + 1)) ;; esac
  done < <(unshare -m sh "$scratch/inside.sh" "$scratch/root" "$deb" "$version")
else
  echo "no throw-away root here (an overlay needs root and mount namespaces): the contents above stand for the install"
fi
summary
