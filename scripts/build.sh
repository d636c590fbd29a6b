#!/usr/bin/env bash
# Configures and builds one architecture (i686 or x86_64) of product/product.ini's local profile
# into $HALVERN_BUILD_ROOT/<arch> (default: build/<arch>): every target, or only the targets named
# after the architecture. With --release it builds the release profile, what a plain configure
# gives and a publisher ships, into <root>/release-<arch>; HALVERN_PUBLISHERS then replaces the
# publishers the definition pins (the tests pin their own).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
profile=local
if [ "${1:-}" = --release ]; then profile=release; shift; fi
arch="${1:-i686}"
root="${HALVERN_BUILD_ROOT:-$here/build}"
if [ "$profile" = local ]; then
  # The local profile talks to the installer web service of the tests and the demo on a port below
  # the ephemeral range (32768 and up), so that no outgoing connection can hold it, and its pages
  # download the sample product that scripts/sample-product.sh publishes on loopback.
  dir="$root/$arch"
  settings=(-DHALVERN_PROFILE=local -DHALVERN_SERVICE_PORT="${HALVERN_SERVICE_PORT:-28443}"
            -DHALVERN_SAMPLE_PORT="${HALVERN_SAMPLE_PORT:-28080}")
else
  dir="$root/release-$arch"
  settings=(-DHALVERN_PROFILE=release -DHALVERN_PUBLISHERS="${HALVERN_PUBLISHERS:-}")
fi
cmake -S "$here" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchain-mingw.cmake" \
  -DHALVERN_ARCH="$arch" -DCMAKE_BUILD_TYPE=Release "${settings[@]}" >/dev/null
shift || true
cmake --build "$dir" -j"$(nproc)" ${1:+--target "$@"}
