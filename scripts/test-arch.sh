#!/usr/bin/env bash
# Decides which build the tests run under Wine: the shipped i686 build where 32-bit Wine works,
# the x86_64 build of the same sources otherwise. Prints the architecture; with --reason, the
# sentence that says why. Sourcing it defines choose_test_arch without running it.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/setup.sh"

# choose_test_arch KERNEL_RUNS_32BIT WINE32_WORKS (each yes or no) prints "ARCH REASON".
choose_test_arch() {
  if [ "$1" != yes ]; then
    echo "x86_64 this kernel cannot run 32-bit programs"
  elif [ "$2" != yes ]; then
    echo "x86_64 32-bit Wine could not be installed"
  else
    echo "i686 32-bit Wine works"
  fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  kernel=no wine32=no
  kernel_runs_32bit && kernel=yes
  wine32_works && wine32=yes
  read -r arch reason < <(choose_test_arch "$kernel" "$wine32")
  if [ "${1:-}" = --reason ]; then echo "testing the $arch build: $reason"; else echo "$arch"; fi
fi
