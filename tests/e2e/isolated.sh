#!/usr/bin/env bash
# Runs a test program under Wine in a network (unshare --net), prefix and session of its own: the
# *Offline* tests with the loopback alone (connected, no internet access), then the others with a
# default route over the loopback (connected to the internet).
#   isolated.sh TEST_EXE
set -euo pipefail
source "$(dirname "$0")/../../scripts/testbed.sh"
ip link set lo up
testbed_prefix isolated "${TESSEL_WINVER:-win10}"
# No sound: a beep (the "Update already in progress ..." box has one) could wait half a minute
# for a sound server that this network cannot reach.
wine reg add 'HKCU\Software\Wine\Drivers' /v Audio /t REG_SZ /d '' /f >/dev/null
# Every web page and new mail opened becomes a line of C:\opened.txt.
cp "$BUILD_DIR/tests/e2e/url_recorder.exe" "$WINEPREFIX/drive_c/windows/"
for scheme in http https mailto; do
    wine reg add "HKCR\\$scheme\\shell\\open\\command" /ve /d 'url_recorder.exe %1' /f >/dev/null
done
trap 'wineserver -k' EXIT
failed=0
sh "$TESSEL_ROOT/scripts/wine-test.sh" "$1" --gtest_filter='*Offline*' "${@:2}" || failed=1
ip route add default via 127.0.0.2 dev lo
sh "$TESSEL_ROOT/scripts/wine-test.sh" "$1" --gtest_filter='-*Offline*' "${@:2}" || failed=1
exit "$failed"
