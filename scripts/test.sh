#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine in a throwaway prefix.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/testbed.sh"
[ "$(id -u)" = 0 ] && "$here/install-deps.sh"

testbed_build
trap testbed_stop EXIT
testbed_start_display
testbed_make_template
testbed_prefix tests "${TESSEL_WINVER:-win10}"

cd "$BUILD_DIR"
ctest --output-on-failure --timeout 300 "$@"
