#!/usr/bin/env bash
# The test command: installs what is missing, builds the shipped 32-bit stub and the test build,
# and runs every test under Wine with a virtual display. Arguments go to CTest: with -R REGEX only
# the tests it names run, and the page suite, which is no CTest test, is left out.
set -euo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
cd "$here"

bash scripts/setup.sh

# The shipped stub is always the 32-bit build.
bash scripts/build.sh i686

python3 scripts/check-stub.py "${HALVERN_BUILD_ROOT:-$here/build}/i686/bin/HalvernSetup.exe" i686-w64-mingw32-objdump

# Tests run the same sources built for the architecture this machine's Wine can run: 32-bit Wine
# needs a kernel with 32-bit emulation and the wine32 package; otherwise the 64-bit build is tested.
arch=$(bash scripts/test-arch.sh)
echo "test: $(bash scripts/test-arch.sh --reason)"
[ "$arch" = i686 ] || bash scripts/build.sh "$arch"
# The release test releases a release-profile stub of that architecture, pinning the tests'
# publisher; only what the release command needs of it is built.
HALVERN_PUBLISHERS=tests/support/publisher/test-publisher.pem bash scripts/build.sh --release "$arch" HalvernSetup tail_text

# The installer pages in headless Chromium (a minute or so).
named=no
for argument in "$@"; do case "$argument" in -R*|--tests-regex*) named=yes ;; esac; done
[ "$named" = yes ] || node --test tests/pages/

export HALVERN_TEST_ARCH="$arch"
xvfb-run -a -s "-screen 0 1280x1024x24" \
  ctest --test-dir "${HALVERN_BUILD_ROOT:-$here/build}/$arch" --output-on-failure "$@"
