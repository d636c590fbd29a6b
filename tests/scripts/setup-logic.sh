#!/usr/bin/env bash
# The set-up decisions with fake answers from apt, dpkg and the machine: nothing here changes the
# machine. Each case sets what is installed and how apt behaves, runs one step and checks what it
# said, what it asked apt to do and how it ended.
set -uo pipefail
here="$(cd "$(dirname "$0")/../../scripts" && pwd)"
source "$here/test-arch.sh"
set +e

state=$(mktemp -d)
trap 'rm -rf "$state"' EXIT
SETUP_RETRY_PAUSE=0
SETUP_STATE_DIR="$state/setup"
passed=0 failed=0

# Fakes: $installed lists the installed packages; "apt-get update" fails $update_failures times;
# "apt-get install" installs the names listed in $installable and exits with $install_status.
package_installed() { grep -qx -- "$1" <<<"$installed"; }
i386_packages_installed() { grep -q ':i386$' <<<"$installed"; }
has_i386_architecture() { [ -f "$state/i386" ]; }
kernel_runs_32bit() { [ "$kernel" = yes ]; }
dpkg_arch() {
  echo "dpkg $*" >>"$state/calls"
  case "$1" in --add-architecture) touch "$state/i386" ;; --remove-architecture) rm -f "$state/i386" ;; esac
}
apt_get() {
  echo "apt-get $*" >>"$state/calls"
  if [ "$1" = update ]; then
    [ "$update_failures" -gt 0 ] && { update_failures=$((update_failures - 1)); return 100; }
    return 0
  fi
  local p
  for p in "$@"; do grep -qx -- "$p" <<<"$installable" && installed+=$'\n'"$p"; done
  return "$install_status"
}

# run_case NAME STEP EXPECTED_STATUS OUTPUT_PATTERN CALLS_PATTERN
run_case() {
  local name=$1 step=$2 want=$3 out_pattern=$4 calls_pattern=$5 out status calls
  : >"$state/calls"
  out=$($step 2>&1)
  status=$?
  calls=$(tr '\n' ';' <"$state/calls")
  if [ "$status" -eq "$want" ] && [[ $out =~ $out_pattern ]] && [[ $calls =~ $calls_pattern ]]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $name (status $status, output: $out, calls: $calls)"
  fi
}

all=$(printf '%s\n' "${SETUP_PACKAGES[@]}")
kernel=no update_failures=0 install_status=0 installable=""

installed=$all
run_case "nothing to do when every package is there" install_required 0 '^setup: all packages present$' '^$'

installed=$(grep -v -x -e wixl -e nginx-light <<<"$all") installable=$'wixl\nnginx-light' update_failures=5 install_status=100
run_case "a failing index update is retried, then the installed packages decide" install_required 0 \
  'retrying.*going on with the indexes at hand.*all packages present' \
  '^(apt-get update -q;){3}apt-get install -y -q --no-install-recommends nginx-light wixl;$'

installed=$(grep -v -x -e wixl <<<"$all") installable="" update_failures=0 install_status=0
run_case "a package still missing after an install that said yes fails set-up" install_required 1 \
  'could not install wixl' 'apt-get install'

npm() { :; }
installed=$(grep -v -x -e npm <<<"$all") installable="" install_status=0
run_case "a Node.js that brings its own npm needs no npm package" install_required 0 '^setup: all packages present$' '^$'
unset -f npm
installed=$(grep -v -x -e npm -e nodejs <<<"$all") installable=$'nodejs\nnpm'
run_case "without Node.js both packages are installed" install_required 0 'all packages present' \
  'apt-get install -y -q --no-install-recommends nodejs npm;$'

installed=$all kernel=no
run_case "32-bit Wine is not tried where the kernel cannot run it" install_wine32 0 '^$' '^$'

installed=$all kernel=yes installable="" install_status=100 update_failures=3
run_case "a failed 32-bit Wine install says so and removes the architecture" install_wine32 0 \
  '32-bit Wine could not be installed; the tests run the x86_64 build' \
  '^dpkg --add-architecture i386;.*apt-get install .*wine32:i386;dpkg --remove-architecture i386;$'
has_i386_architecture && { failed=$((failed + 1)); echo "FAILED: i386 architecture left behind"; }

run_case "a second run within the day does not try again" install_wine32 0 'not trying again' '^$'

rm -rf "$SETUP_STATE_DIR" && touch "$state/i386"
update_failures=0
run_case "an architecture that was there before but has no packages is removed too" install_wine32 0 \
  'could not be installed' '^apt-get update -q;apt-get install .*wine32:i386;dpkg --remove-architecture i386;$'

rm -rf "$SETUP_STATE_DIR" && touch "$state/i386"
installed=$all$'\nlibc6:i386'
run_case "an architecture with i386 packages installed is kept" install_wine32 0 'could not be installed' \
  '^apt-get update -q;apt-get install .*wine32:i386;$'

rm -rf "$SETUP_STATE_DIR" "$state/i386"
installed=$all installable="wine32:i386" install_status=0 update_failures=0
run_case "32-bit Wine installs where it can" install_wine32 0 '32-bit Wine installed' \
  '^dpkg --add-architecture i386;apt-get update -q;apt-get install .*wine32:i386;$'

while read -r kernel wine32 expected; do
  decided=$(choose_test_arch "$kernel" "$wine32")
  if [ "$decided" = "$expected" ]; then passed=$((passed + 1)); else
    failed=$((failed + 1)); echo "FAILED: choose_test_arch $kernel $wine32 gave '$decided', not '$expected'"
  fi
done <<'EOF'
no no x86_64 this kernel cannot run 32-bit programs
no yes x86_64 this kernel cannot run 32-bit programs
yes no x86_64 32-bit Wine could not be installed
yes yes i686 32-bit Wine works
EOF

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
