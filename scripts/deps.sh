#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, where missing.
set -euo pipefail
packages=(cmake make g++ googletest libgtest-dev libgmock-dev libbenchmark-dev libssl-dev
  clang libclang-rt-dev clang-format mingw-w64 wine wine64 xvfb xauth x11-utils imagemagick xdotool zip unzip strace
  pkg-config libfuse3-dev fuse3 libblkid-dev mtools dosfstools exfatprogs exfat-fuse ntfs-3g e2fsprogs fuse2fs
  fio gocryptfs attr groff-base jq
  fonts-wine fp-utils python3 nsis osslsigncode openssl lintian dpkg-dev fakeroot)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # Two checkouts set up at once wait for each other rather than fail on
  # apt's lock.
  exec 9>/var/lock/velmorcrypt-deps.lock
  flock 9
  apt-get update -q
  apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=600 "${missing[@]}"
  exec 9>&-
fi
