#!/usr/bin/env bash
# Builds the command-line tool (native, release) and installs it with its
# manual page and bash completion under PREFIX (default ~/.local):
#   PREFIX/bin/velmorcrypt-cli
#   PREFIX/share/man/man1/velmorcrypt-cli.1.gz
#   PREFIX/share/bash-completion/completions/velmorcrypt-cli
# Usage: scripts/install-cli.sh [PREFIX]
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=${1:-$HOME/.local}

# What building the tool alone needs (fuse3 for its mount command).
missing=()
for p in cmake make g++ pkg-config libfuse3-dev fuse3; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages; run: sudo apt-get install ${missing[*]}" >&2
    exit 1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

build=build/install-cli
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVM_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target velmorcrypt-cli
cmake --install "$build" --prefix "$prefix"
echo "Installed velmorcrypt-cli under $prefix: 'man velmorcrypt-cli'; completion in new bash shells."
case ":$PATH:" in
  *":$prefix/bin:"*) ;;
  *) echo "Add $prefix/bin to PATH to run it by name." ;;
esac
