#!/usr/bin/env bash
# Tessel's main job as a logon runs it, in a throwaway Wine prefix with the stand-in disk
# service: a demo set of images is registered for the current user, tessel.exe starts
# with no arguments (as the Run key starts it), mounts the marked images and waits in the
# tray. The script prints the live list and the attached images, shows the window as a
# tray double-click does and saves a screenshot. Then a user works the list through the
# real window (mouse, keyboard, the open-file dialog): adds an image with Insert and Mount,
# unchecks a marked row, unmounts all, removes a row with Delete; the rows and the registry
# values are printed after each step, and a second screenshot shows the context menu open.
# Last, the user mounts an image again, compacts it together with an unmounted one, and
# opens its information dialog for a third screenshot. Tessel ends with its quit request.
#   DEMO_WINVER=win7|win8|win10 (default win10): the Windows version Wine reports.
#   DEMO_DPI=144 (default 96): the display scale, as the prefix's LogPixels; the pictures
#   then go to build/demo-144.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/testbed.sh"
[ "$(id -u)" = 0 ] && "$here/install-deps.sh"

winver=${DEMO_WINVER:-win10}
dpi=${DEMO_DPI:-96}
demo_dir=$BUILD_DIR/demo
[ "$dpi" = 96 ] || demo_dir=$BUILD_DIR/demo-$dpi
shot=$demo_dir/tessel-demo.png
menu_shot=$demo_dir/tessel-demo-menu.png
info_shot=$demo_dir/tessel-diskinfo.png
tools=(tessel virtdisk_standin mkimage standinctl probe probe_agent keeper)

echo "== Building"
testbed_build --target "${tools[@]}" >/dev/null
trap testbed_stop EXIT
testbed_start_display
testbed_make_template
testbed_prefix demo "$winver"
wine reg add 'HKCC\Software\Fonts' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
mkdir -p "$demo_dir"

probe() { wine "$BUILD_DIR/tools/probe.exe" "$@"; }
standinctl() { wine "$BUILD_DIR/standin/standinctl.exe" "$@"; }
mkimage() { wine "$BUILD_DIR/standin/mkimage.exe" "$@" >/dev/null; }

echo "== Making the demo set in C:\\Demo (Windows version: $winver, $dpi DPI)"
mkdir -p "$WINEPREFIX/drive_c/Demo"
mkimage vhd-fixed 'C:\Demo\Backup.vhd' --size 64M
mkimage vhdx-dynamic 'C:\Demo\Projects.vhdx' --size 1G --pattern DZZD
mkimage iso9660 'C:\Demo\Installer.iso' --size 8M
mkimage vhd-dynamic 'C:\Demo\Archive.vhd' --size 256M
mkimage vhd-dynamic 'C:\Demo\Scratch.vhd' --size 32M --pattern DZZD

user=$(wine cmd /c 'echo %USERNAME%' | tr -d '\r\n')
key="HKLM\\SOFTWARE\\{6F1C2B7A-93D4-4E85-B0A2-5C7E19D4F360}\\$user"
echo "== Registering them for user $user under $key"
reg_add() { wine reg add "$key" "$@" /f >/dev/null; }
reg_add /v 'C:\Demo\Backup.vhd' /t REG_SZ /d +
reg_add /v 'C:\Demo\Projects.vhdx' /t REG_SZ /d +
reg_add /v 'C:\Demo\Installer.iso' /t REG_SZ /d +
reg_add /v 'C:\Demo\Archive.vhd' /t REG_SZ /d -
reg_add /v 'C:\Demo\Missing.vhd' /t REG_SZ /d +
# Not an image: a value of another type is passed over (and keeps the update check off).
reg_add /v CheckForUpdate /t REG_DWORD /d 0

show_rows() {
    probe rows | tr -d '\r' | awk -F'\t' '
        BEGIN { printf "%-24s %-28s %-36s %s\n", "Virtual disk file name", "Status", "Mount at startup", "Check box" }
        { printf "%-24s %-28s %-36s %s\n", $1, $2, $3, $4 }'
}
show_values() {
    echo "Registry values:"
    wine reg query "$key" | tr -d '\r' | awk '/REG_SZ/ { printf "  %-24s %s\n", $1, $3 }'
}
step() {
    echo
    echo "== $1"
}
show_both() {
    show_rows
    show_values
}

echo "== Starting tessel.exe with no arguments, as the Run key does"
wine "$BUILD_DIR/tessel.exe" </dev/null >/dev/null 2>&1 &
tessel_pid=$!
probe wait-idle 30000
echo "Tessel is idle in the notification area: $(probe tray)"

echo
echo "== The list, as the running window shows it"
show_rows
echo
echo "== Attached through the disk service now (ro = read-only)"
standinctl list | tr -d '\r' | awk -F'\t' '{ printf "%s  %s  (process %s)\n", $1, $3, $2 } END { if (NR == 0) print "(nothing)" }'

echo
echo "== The tray double-click"
probe show
sleep 1
import -window root "$shot"
echo "Screenshot: $shot"

step "Right-click below the rows: the context menu (id, state)"
probe menu -1 | tr -d '\r' | paste -sd' '
step "Insert and Mount Virtual Disk ..., C:\\Demo\\Scratch.vhd typed into the open dialog"
probe choose 32778
probe type 'C:\Demo\Scratch.vhd'
show_both
step "Uncheck the marked row Backup.vhd (its check box clicked)"
probe check 1
show_both
step "Right-click Backup.vhd, then Unmount All Disk's"
probe menu 1 >/dev/null
import -window root "$menu_shot"
echo "Screenshot with the menu open: $menu_shot"
probe choose 32795
show_both
step "Select Archive.vhd and press Delete"
probe delete 0
show_both
row_of() { probe rows | tr -d '\r' | awk -F'\t' -v name="$1" '$1 ~ name { print NR - 1; exit }'; }
sizes() {
    for image in Scratch.vhd Projects.vhdx; do
        printf '  %-14s %10s bytes, %s\n' "$image" "$(stat -c %s "$WINEPREFIX/drive_c/Demo/$image")" \
            "$(probe rows | tr -d '\r' | awk -F'\t' -v name="$image" '$1 ~ name { print $2 }')"
    done
}
projects=$(row_of Projects.vhdx)
scratch=$(row_of Scratch.vhd)
step "Select Projects.vhdx, right-click it, Mount ..."
probe select "$projects" "$projects"
probe menu "$projects" >/dev/null
probe choose 32779
show_both
step "Select Scratch.vhd (not mounted) and Projects.vhdx (mounted), Compact Virtual Disk's ..."
sizes
probe select "$scratch" "$scratch" "$projects"
probe menu "$projects" >/dev/null
probe choose 32790
probe press 6
# The run holds the window's thread; the rows tell when it is over.
until [ "$(probe rows | grep -c 'compacting done\|compacting error')" = 2 ]; do sleep 0.2; done
sizes
echo "Attached now:"
standinctl list | tr -d '\r' | awk -F'\t' '{ printf "  %s  %s\n", $1, $3 }'
step "Right-click Projects.vhdx alone, Virtual Disk Information ..."
probe select "$projects" "$projects"
probe menu "$projects" >/dev/null
probe choose 32816
until probe boxes | grep -q 'Virtual Hard Disk Information'; do sleep 0.2; done
sleep 1
import -window root "$info_shot"
echo "Screenshot: $info_shot"
probe press 1

echo
echo "== The quit request"
probe quit
wait "$tessel_pid" && code=0 || code=$?
echo "tessel.exe exit code: $code"
