#!/usr/bin/env bash
# Configures and builds one architecture (i686 or x86_64) into $HALVERN_BUILD_ROOT/<arch>
# (default: build/<arch>): every target, or only the targets named after the architecture.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
arch="${1:-i686}"
root="${HALVERN_BUILD_ROOT:-$here/build}"
# The project's builds talk to the local installer web service of the tests and the demo, on a
# port below the ephemeral range (32768 and up), so that no outgoing connection can hold it. Their
# pages download the sample product that scripts/sample-product.sh publishes on loopback and open
# its thank-you page; the "${name}" placeholders are the pages' own and stay literal.
sample="http://127.0.0.1:${HALVERN_SAMPLE_PORT:-28080}"
cmake -S "$here" -B "$root/$arch" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/toolchain-mingw.cmake" \
  -DHALVERN_ARCH="$arch" -DCMAKE_BUILD_TYPE=Release \
  -DHALVERN_SERVICE_HOST=localhost -DHALVERN_SERVICE_PORT="${HALVERN_SERVICE_PORT:-28443}" \
  -DHALVERN_DOWNLOAD_URL="$sample"'/setup/${lang}/Halvern_${osbits}.msi' \
  -DHALVERN_THANKYOU_URL="$sample"'/thank-you.html?pid=${pid}&version=${version}&lang=${lang}&bits=${osbits}&vid=${vid}' \
  >/dev/null
shift || true
cmake --build "$root/$arch" -j"$(nproc)" ${1:+--target "$@"}
