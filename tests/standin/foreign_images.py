#!/usr/bin/env python3
"""The stand-in service and the image maker checked against tools nobody here wrote.

QEMU (qemu-img, qemu-io), genisoimage and mkimage make images; the stand-in, through
`standinctl info|compact` under Wine, must take each for its own type as Tessel probes them
(VHD, VHDX, then ISO) and report what its maker and QEMU say, and QEMU must find a dynamic
image's content unchanged after the stand-in compacts it.

usage: foreign_images.py STANDINCTL.EXE MKIMAGE.EXE
"""
import json, os, re, shutil, subprocess, sys, tempfile

failed = []
M = 1 << 20
# Data, a zero run and data again, so that compaction has blocks to give back.
WRITES = " && qemu-io -f {f} -c 'write -P 0x55 0 1M' -c 'write -P 0 4M 4M' -c 'write -P 0x33 10M 3M' {p}"
QEMU = "qemu-img create -q -f {f} -o subformat="
MKIMAGE = "wine {mkimage} "
# name, how it is made ({p}: its path, {w}: as Wine names it), QEMU's format (None: not QEMU's
# to read), device and subtype the stand-in reports (None: no image), virtual size (None: as
# QEMU or the file's size says); the dynamic ones (subtype 3) are compacted.
IMAGES = [
    ("d.vhd", QEMU + "dynamic {p} 64M" + WRITES, "vpc", 2, 3, None),
    ("f.vhd", QEMU + "fixed,force_size=on {p} 16M", "vpc", 2, 2, None),
    ("d.vhdx", QEMU + "dynamic,block_size=8M {p} 128M" + WRITES, "vhdx", 3, 3, None),
    ("f.vhdx", QEMU + "fixed {p} 16M", "vhdx", 3, 2, None),
    ("cd.iso", "genisoimage -quiet -o {p} {content}", None, 1, 2, None),
    ("hybrid.iso", "genisoimage -quiet -udf -o {p} {content}", None, 1, 2, None),
    ("gen-vhd-fixed", MKIMAGE + "vhd-fixed {w} --size 48M --pattern D.D", "vpc", 2, 2, 48 * M),
    ("gen-vhd-dynamic", MKIMAGE + "vhd-dynamic {w} --size 48M --pattern DZ.ZD", "vpc", 2, 3, 48 * M),
    ("gen-vhd-differencing", MKIMAGE + "vhd-differencing {w} --parent {parent} --pattern D", None, 2, 4, 48 * M),
    ("gen-vhdx-fixed", MKIMAGE + "vhdx-fixed {w} --size 48M --block 8M --pattern D", "vhdx", 3, 2, 48 * M),
    ("gen-vhdx-dynamic", MKIMAGE + "vhdx-dynamic {w} --size 48M --block 8M --pattern DZ.ZD", "vhdx", 3, 3, 48 * M),
    ("gen-iso9660", MKIMAGE + "iso9660 {w} --size 48M", None, 1, 2, 48 * M),
    ("gen-iso-udf", MKIMAGE + "iso-udf {w} --size 48M", None, 1, 2, 48 * M),
    ("gen-text", MKIMAGE + "text {w}", None, None, None, None),
]


def check(name, ok, detail=""):
    print(("ok   " if ok else "FAIL ") + name + ("" if ok else ": " + str(detail)), flush=True)
    if not ok:
        failed.append(name)


def run(*args, shell=False):
    return subprocess.run(args[0] if shell else args, shell=shell, capture_output=True, text=True,
                          stdin=subprocess.DEVNULL)


def wine(exe, *args):
    """Exit status, and what the program and Wine printed."""
    done = run("wine", exe, *args)
    return done.returncode, (done.stdout + done.stderr).replace("\r", "").strip()


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def check_image(ctl, name, path, fmt, device, subtype, size):
    code, out = wine(ctl, "info", win(path))
    info = {k: int(v) for k, v in re.findall(r"(\w+)=(\d+)", out)}
    expected = {"device": device, "subtype": subtype}
    if fmt:
        q = run("qemu-img", "info", "-f", fmt, "--output=json", path)
        q = json.loads(q.stdout) if q.returncode == 0 else {"error": q.stderr}
        check(f"{name} read by QEMU", size in (None, q.get("virtual-size")), q)
        expected.update(virtual=q.get("virtual-size"), sector=512,
                        block=0 if subtype == 2 else q.get("cluster-size", 0))
    elif device == 1:
        expected.update(virtual=size or os.path.getsize(path), sector=2048, block=0)
    elif device:
        expected.update(virtual=size, sector=512)
    if device:
        expected.update(physical=os.path.getsize(path))
    wrong = {k: (info.get(k), v) for k, v in expected.items() if info.get(k) != v}
    check(f"{name} reported as its maker says", not wrong, out if code else wrong)
    if subtype == 3:
        original = path + ".orig"
        shutil.copyfile(path, original)
        code, out = wine(ctl, "compact", win(path))
        check(f"{name} compacts and shrinks", code == 0 and os.path.getsize(path) < os.path.getsize(original), out)
        same = run("qemu-img", "compare", "-f", fmt, "-F", fmt, original, path)
        check(f"{name} keeps its content", same.returncode == 0, same.stdout + same.stderr)
        if fmt == "vhdx":
            checked = run("qemu-img", "check", "-f", fmt, path)
            check(f"{name} passes qemu-img check", checked.returncode == 0, checked.stdout)


def main():
    ctl, mkimage = sys.argv[1:]
    # One lasting wineserver, and Wine's own processes started without our pipes.
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-p"], **quiet)
    subprocess.run(["wine", ctl, "list"], **quiet)
    with tempfile.TemporaryDirectory(prefix="foreign-images-") as folder:
        os.environ["VIRTDISK_STANDIN_STATE"] = win(os.path.join(folder, "state"))
        content, parent = os.path.join(folder, "content"), os.path.join(folder, "gen-parent.vhd")
        os.makedirs(content)
        with open(os.path.join(content, "readme.txt"), "w") as f:
            f.write("hello\n")
        code, out = wine(mkimage, "vhd-dynamic", win(parent), "--size", "48M")
        check("mkimage parent made", code == 0, f"exit status {code}: {out}")
        for name, how, fmt, device, subtype, size in IMAGES:
            path = os.path.join(folder, name)
            made = run(how.format(p=path, w=f"'{win(path)}'", f=fmt, content=content, mkimage=mkimage,
                                  parent=f"'{win(parent)}'"), shell=True)
            check(f"{name} made", made.returncode == 0, made.stdout + made.stderr)
            check_image(ctl, name, path, fmt, device, subtype, size)
        described = run("isoinfo", "-d", "-i", os.path.join(folder, "gen-iso9660")).stdout
        check("mkimage iso9660 read by isoinfo", "Volume size is: 24576" in described, described)
    print(f"{len(failed)} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
