#!/usr/bin/env python3
"""The stand-in service and the image maker checked against tools nobody here wrote.

QEMU (qemu-img, qemu-io) and genisoimage make images; the stand-in, through `standinctl
info|compact` under Wine, must report what they report and keep their content when it
compacts. mkimage's images must be taken for their own type as Tessel probes them (VHD,
VHDX, then ISO), be read by QEMU and isoinfo, and keep their content through compaction.

usage: foreign_images.py STANDINCTL.EXE MKIMAGE.EXE
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

failed = []


def check(name, ok, detail=""):
    print(("ok   " if ok else "FAIL ") + name + ("" if ok else ": " + str(detail)), flush=True)
    if not ok:
        failed.append(name)


def run(*args):
    return subprocess.run(args, capture_output=True, text=True, stdin=subprocess.DEVNULL)


def wine(exe, *args):
    """Exit status, and what the program and Wine printed."""
    done = run("wine", exe, *args)
    return done.returncode, (done.stdout + done.stderr).replace("\r", "").strip()


def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def qemu_info(path, fmt):
    done = run("qemu-img", "info", "-f", fmt, "--output=json", path)
    return json.loads(done.stdout) if done.returncode == 0 else {"error": done.stderr}


def foreign_images(folder):
    """(name, path, qemu format or None, device, subtype) for images made by other tools."""
    def qemu(name, fmt, options, size, data=False):
        path = os.path.join(folder, name)
        run("qemu-img", "create", "-q", "-f", fmt, "-o", options, path, size)
        for w in ("write -P 0x55 0 1M", "write -P 0 4M 4M", "write -P 0x33 10M 3M") if data else ():
            run("qemu-io", "-f", fmt, "-c", w, path)
        return path

    images = [("vpc-dynamic", qemu("d.vhd", "vpc", "subformat=dynamic", "64M", True), "vpc", 2, 3),
              ("vpc-fixed", qemu("f.vhd", "vpc", "subformat=fixed,force_size=on", "16M"), "vpc", 2, 2),
              ("vhdx-dynamic", qemu("d.vhdx", "vhdx", "subformat=dynamic,block_size=8M", "128M", True), "vhdx", 3, 3),
              ("vhdx-fixed", qemu("f.vhdx", "vhdx", "subformat=fixed", "16M"), "vhdx", 3, 2)]
    content = os.path.join(folder, "content")
    os.makedirs(content)
    with open(os.path.join(content, "readme.txt"), "w") as f:
        f.write("hello\n")
    for name, extra in (("cd.iso", []), ("hybrid.iso", ["-udf"])):
        run("genisoimage", "-quiet", *extra, "-o", os.path.join(folder, name), content)
        images.append((name, os.path.join(folder, name), None, 1, 2))
    return images


def test_reports(ctl, images):
    for name, path, fmt, device, subtype in images:
        code, out = wine(ctl, "info", win(path))
        info = {k: int(v) for k, v in re.findall(r"(\w+)=(\d+)", out)}
        expected = {"device": device, "subtype": subtype, "physical": os.path.getsize(path)}
        if fmt:
            q = qemu_info(path, fmt)
            expected.update(virtual=q["virtual-size"], sector=512,
                            block=0 if subtype == 2 else q.get("cluster-size", 0))
        else:
            expected.update(virtual=os.path.getsize(path), block=0, sector=2048)
        wrong = {k: (info.get(k), v) for k, v in expected.items() if info.get(k) != v}
        check(f"{name} reported as its maker says", code == 0 and not wrong, out if code else wrong)


def test_compaction(ctl, images):
    for name, path, fmt in images:
        original = path + ".orig"
        shutil.copyfile(path, original)
        code, out = wine(ctl, "compact", win(path))
        check(f"{name} compacts and shrinks", code == 0 and os.path.getsize(path) < os.path.getsize(original), out)
        same = run("qemu-img", "compare", "-f", fmt, "-F", fmt, original, path)
        check(f"{name} keeps its content", same.returncode == 0, same.stdout + same.stderr)
        if fmt == "vhdx":
            checked = run("qemu-img", "check", "-f", fmt, path)
            check(f"{name} passes qemu-img check", checked.returncode == 0, checked.stdout)


def generated(ctl, mkimage, folder):
    """mkimage's images, each taken by the stand-in for its own type, as Tessel probes them,
    and read by QEMU or isoinfo. Returns (name, path, qemu format) of the dynamic ones."""
    parent = os.path.join(folder, "gen-parent.vhd")
    code, out = wine(mkimage, "vhd-dynamic", win(parent), "--size", "48M")
    check("mkimage parent made", code == 0, f"exit status {code}: {out}")
    images = []
    for kind, fmt, device, subtype, options in (
            ("vhd-fixed", "vpc", 2, 2, ["--size", "48M", "--pattern", "D.D"]),
            ("vhd-dynamic", "vpc", 2, 3, ["--size", "48M", "--pattern", "DZ.ZD"]),
            ("vhd-differencing", None, 2, 4, ["--parent", win(parent), "--pattern", "D"]),
            ("vhdx-fixed", "vhdx", 3, 2, ["--size", "48M", "--block", "8M", "--pattern", "D"]),
            ("vhdx-dynamic", "vhdx", 3, 3, ["--size", "48M", "--block", "8M", "--pattern", "DZ.ZD"]),
            ("iso9660", None, 1, 2, ["--size", "48M"]), ("iso-udf", None, 1, 2, ["--size", "48M"]),
            ("text", None, None, None, [])):
        path = os.path.join(folder, "gen-" + kind)
        code, out = wine(mkimage, kind, win(path), *options)
        check(f"mkimage {kind} made", code == 0, f"exit status {code}: {out}")
        code, out = wine(ctl, "info", win(path))
        info = {k: int(v) for k, v in re.findall(r"(\w+)=(\d+)", out)}
        taken = info.get("device") == device and info.get("subtype") == subtype
        check(f"mkimage {kind} taken as device {device}", taken and info.get("virtual", 48 << 20) == 48 << 20, out)
        if fmt:
            info = qemu_info(path, fmt)
            check(f"mkimage {kind} read by QEMU", info.get("virtual-size") == 48 << 20, info)
            if subtype == 3:
                images.append(("mkimage " + kind, path, fmt))
    described = run("isoinfo", "-d", "-i", os.path.join(folder, "gen-iso9660")).stdout
    check("mkimage iso9660 read by isoinfo", "Volume size is: 24576" in described, described)
    return images


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    ctl, mkimage = sys.argv[1:]
    # One lasting wineserver, and Wine's own processes started without our pipes.
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-p"], **quiet)
    subprocess.run(["wine", ctl, "list"], **quiet)
    with tempfile.TemporaryDirectory(prefix="foreign-images-") as folder:
        os.environ["VIRTDISK_STANDIN_STATE"] = win(os.path.join(folder, "state"))
        images = foreign_images(folder)
        test_reports(ctl, images)
        test_compaction(ctl, [(n, p, f) for n, p, f, _, subtype in images if subtype == 3])
        test_compaction(ctl, generated(ctl, mkimage, folder))
    print(f"{len(failed)} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
