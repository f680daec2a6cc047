# Shared by the test, demo and benchmark scripts (sourced, not run).
# A throwaway Wine prefix per run, copied from a template, with one Xvfb and one
# wineserver that live exactly as long as the calling script.

# Debian's Wine has no preloader to keep Wine's fixed addresses free. Its loader sits at
# 0x7d000000 and the kernel starts the heap at random up to 1 GB above it: now and then over
# the shared user data page at 0x7ffe0000, and that process dies as it starts ("failed to map
# the shared user data"). Every Wine process inherits the calling script's personality: with
# no address randomization the heap starts right after the loader.
if [ -z "${TESSEL_NO_ASLR:-}" ]; then
    export TESSEL_NO_ASLR=1
    exec setarch "$(uname -m)" --addr-no-randomize bash "$0" "$@"
fi

TESSEL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${BUILD_DIR:-$TESSEL_ROOT/build}
WINE_ROOT=$BUILD_DIR/wine
STANDIN_DLL=$BUILD_DIR/standin/virtdisk/virtdisk.dll

# Wine's own errors only: none in a passing run, and the reason when Wine ends a program.
export WINEDEBUG=${WINEDEBUG:--all,err+all}
export WINEDLLOVERRIDES="mscoree,mshtml=;virtdisk=n"
export WINEARCH=win64

testbed_build() {
    cmake -S "$TESSEL_ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
    cmake --build "$BUILD_DIR" -j"$(nproc)" "$@"
}

# Xvfb picks a free display itself and reports it, so parallel runs never share one.
testbed_start_display() {
    local fifo
    fifo=$(mktemp -u)
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    TESTBED_XVFB_PID=$!
    local n
    if ! read -r -t 10 n <"$fifo"; then
        rm -f "$fifo"
        echo "Xvfb did not start" >&2
        return 1
    fi
    rm -f "$fifo"
    export DISPLAY=:$n
}

# The template is made once per build folder; wineboot is the slow step (10-15 s).
# A failed attempt is shown and tried once more, from scratch.
testbed_make_template() {
    local template=$WINE_ROOT/template log=$WINE_ROOT/template.log attempt
    [ -f "$template/.tessel-ready" ] && return 0
    mkdir -p "$WINE_ROOT"
    for attempt in 1 2; do
        rm -rf "$template"
        if (
            export WINEPREFIX=$template
            wineboot -i && wineserver -w &&
                # Unmanaged windows close their modal dialogs at once under a bare X server.
                wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f &&
                wineserver -w
        ) >"$log" 2>&1 </dev/null; then
            touch "$template/.tessel-ready"
            return 0
        fi
        echo "Making the Wine prefix failed (attempt $attempt); its log ends:" >&2
        tail -n 20 "$log" >&2
        WINEPREFIX=$template wineserver -k 2>/dev/null || true
    done
    return 1
}

# testbed_prefix NAME [win7|win8|win10]: a fresh copy of the template with the stand-in
# virtual disk service in its system folder; exports WINEPREFIX.
testbed_prefix() {
    local name=$1 version=${2:-win10}
    export WINEPREFIX=$WINE_ROOT/$name
    rm -rf "$WINEPREFIX"
    cp -a "$WINE_ROOT/template" "$WINEPREFIX"
    cp "$STANDIN_DLL" "$WINEPREFIX/drive_c/windows/system32/virtdisk.dll"
    # Wine's own fonts (fonts-wine: Tahoma, and Marlett for the caption buttons), which
    # Debian's Wine does not look for in their folder; it does in the prefix's Fonts folder.
    ln -sf /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    wineserver -p
    wine reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d "$version" /f >/dev/null
    # A first idle process keeps Wine's desktop and services from inheriting CTest's pipes.
    (wine "$BUILD_DIR/tools/keeper.exe" </dev/null >/dev/null 2>&1 &)
}

testbed_stop() {
    [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null
    [ -n "${TESTBED_XVFB_PID:-}" ] && kill "$TESTBED_XVFB_PID" 2>/dev/null
    wait 2>/dev/null
    true
}
