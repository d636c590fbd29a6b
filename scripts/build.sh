#!/usr/bin/env bash
# Configures and builds one architecture (i686 or x86_64) into $HALVERN_BUILD_ROOT/<arch>
# (default: build/<arch>).
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
arch="${1:-i686}"
root="${HALVERN_BUILD_ROOT:-$here/build}"
cmake -S "$here" -B "$root/$arch" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchain-mingw.cmake" \
  -DHALVERN_ARCH="$arch" -DCMAKE_BUILD_TYPE=Release \
  -DHALVERN_SERVICE_HOST=localhost -DHALVERN_SERVICE_PORT="${HALVERN_SERVICE_PORT:-47443}" >/dev/null
cmake --build "$root/$arch" -j"$(nproc)"
