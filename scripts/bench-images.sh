# Sourced by the benchmarks after testbed_prefix: the demo user's key, COUNT copies of one
# small dynamic VHD in C:\Bench, and register N STEP to list the first N of them with every
# STEP-th one marked ("+"; STEP 0 marks none) and the update check off; register_marked PATH
# lists that one image, marked.
user=$(wine cmd /c 'echo %USERNAME%' | tr -d '\r\n')
key="HKEY_LOCAL_MACHINE\\SOFTWARE\\{6F1C2B7A-93D4-4E85-B0A2-5C7E19D4F360}\\$user"

make_images() {
    local images=$WINEPREFIX/drive_c/Bench
    mkdir -p "$images"
    wine "$BUILD_DIR/standin/mkimage.exe" vhd-dynamic 'C:\Bench\img-0.vhd' --size 16M >/dev/null
    for i in $(seq 1 $(($1 - 1))); do cp --sparse=always "$images/img-0.vhd" "$images/img-$i.vhd"; done
}

register() {
    local n=$1 step=$2 file=$WINEPREFIX/drive_c/bench.reg flag
    wine reg delete "$key" /f >/dev/null 2>&1 || true
    {
        printf 'REGEDIT4\r\n\r\n[%s]\r\n"CheckForUpdate"=dword:00000000\r\n' "$key"
        for ((i = 0; i < n; i++)); do
            flag=-
            ((step && i % step == 0)) && flag=+
            printf '"C:\\\\Bench\\\\img-%d.vhd"="%s"\r\n' "$i" "$flag"
        done
    } >"$file"
    wine reg import 'C:\bench.reg' >/dev/null 2>&1
}

register_marked() {
    local file=$WINEPREFIX/drive_c/bench.reg
    wine reg delete "$key" /f >/dev/null 2>&1 || true
    printf 'REGEDIT4\r\n\r\n[%s]\r\n"CheckForUpdate"=dword:00000000\r\n"%s"="+"\r\n' "$key" \
        "${1//\\/\\\\}" >"$file"
    wine reg import 'C:\bench.reg' >/dev/null 2>&1
}
