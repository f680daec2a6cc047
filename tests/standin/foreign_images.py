#!/usr/bin/env python3
"""The stand-in service and the image maker checked against tools nobody here wrote.

QEMU (qemu-img, qemu-io), genisoimage and mkudffs make images; the stand-in, through
`standinctl info|compact` under Wine, must report what they report and keep their content
when it compacts. In turn QEMU and isoinfo must accept what mkimage writes.

usage: foreign_images.py STANDINCTL.EXE MKIMAGE.EXE
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

MiB = 1 << 20
results = {"passed": 0, "failed": 0}


def check(name, ok, detail=""):
    results["passed" if ok else "failed"] += 1
    print(("ok   " if ok else "FAIL ") + name + ("" if ok else ": " + detail), flush=True)


def run(*args):
    return subprocess.run(args, capture_output=True, text=True, stdin=subprocess.DEVNULL)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(exe, *args):
    done = run("wine", exe, *args)
    return done.returncode, done.stdout.replace("\r", "").strip()


def qemu_info(path, fmt):
    return json.loads(run("qemu-img", "info", "-f", fmt, "--output=json", path).stdout)


def standin_info(ctl, path):
    code, out = wine(ctl, "info", windows_path(path))
    fields = dict(re.findall(r"(\w+)=(\d+)", out))
    return {k: int(v) for k, v in fields.items()} if code == 0 else out


def make_foreign(folder):
    """(name, path, qemu format or None, device, subtype) for images made by other tools."""
    images = []
    os.makedirs(folder)

    def qemu(name, fmt, options, size, writes=()):
        path = os.path.join(folder, name)
        run("qemu-img", "create", "-q", "-f", fmt, "-o", options, path, size)
        for w in writes:
            run("qemu-io", "-f", fmt, "-c", w, path)
        return path

    data = ("write -P 0x55 0 1M", "write -P 0 4M 4M", "write -P 0x33 10M 3M")
    images.append(("vpc-dynamic", qemu("d.vhd", "vpc", "subformat=dynamic", "64M", data), "vpc", 2, 3))
    images.append(("vpc-dynamic-exact", qemu("e.vhd", "vpc", "subformat=dynamic,force_size=on", "50M", data), "vpc", 2, 3))
    images.append(("vpc-fixed", qemu("f.vhd", "vpc", "subformat=fixed,force_size=on", "16M"), "vpc", 2, 2))
    images.append(("vhdx-dynamic", qemu("d.vhdx", "vhdx", "subformat=dynamic,block_size=8M", "128M", data), "vhdx", 3, 3))
    images.append(("vhdx-dynamic-default", qemu("g.vhdx", "vhdx", "subformat=dynamic", "1G", data), "vhdx", 3, 3))
    images.append(("vhdx-fixed", qemu("f.vhdx", "vhdx", "subformat=fixed", "16M"), "vhdx", 3, 2))

    content = os.path.join(folder, "content")
    os.makedirs(content)
    with open(os.path.join(content, "readme.txt"), "w") as f:
        f.write("hello\n")
    for name, extra in (("cd.iso", []), ("hybrid.iso", ["-udf"])):
        path = os.path.join(folder, name)
        run("genisoimage", "-quiet", *extra, "-o", path, content)
        images.append((name, path, None, 1, 2))
    udf = os.path.join(folder, "udf.iso")
    with open(udf, "wb") as f:
        f.truncate(4 * MiB)
    run("mkudffs", "-b", "2048", udf)
    images.append(("udf.iso", udf, None, 1, 2))
    return images


def test_reports(ctl, folder):
    for name, path, fmt, device, subtype in make_foreign(folder):
        info = standin_info(ctl, path)
        if not isinstance(info, dict):
            check(f"{name} opens", False, info)
            continue
        expected = {"device": device, "subtype": subtype, "physical": os.path.getsize(path)}
        if fmt:
            q = qemu_info(path, fmt)
            expected["virtual"] = q["virtual-size"]
            expected["block"] = 0 if subtype == 2 else q.get("cluster-size", 0)
            expected["sector"] = 512
        else:
            expected.update(virtual=os.path.getsize(path), block=0, sector=2048)
        wrong = {k: (info.get(k), v) for k, v in expected.items() if info.get(k) != v}
        check(f"{name} reported as its maker says", not wrong, f"(stand-in, expected) {wrong}")


def test_refusals(ctl, folder):
    cases = (("qcow2", ["qemu-img", "create", "-q", "-f", "qcow2"], "1392"),
             ("raw", ["qemu-img", "create", "-q", "-f", "raw"], "1392"))
    for name, command, code in cases:
        path = os.path.join(folder, "refused." + name)
        run(*command, path, "64M")
        rc, out = wine(ctl, "info", windows_path(path))
        check(f"{name} refused after three probes with the ISO code", rc == 1 and out == "open " + code, out)


def test_compaction(ctl, folder):
    for name, path, fmt, _, subtype in make_foreign(folder):
        if not fmt or subtype != 3:
            continue
        original = path + ".orig"
        shutil.copyfile(path, original)
        rc, out = wine(ctl, "compact", windows_path(path))
        check(f"{name} compacts", rc == 0 and out == "0", out)
        before, after = os.path.getsize(original), os.path.getsize(path)
        check(f"{name} shrinks", after < before, f"{before} -> {after}")
        same = run("qemu-img", "compare", "-f", fmt, "-F", fmt, original, path)
        check(f"{name} keeps its content", same.returncode == 0, same.stdout + same.stderr)
        if fmt == "vhdx":
            checked = run("qemu-img", "check", "-f", fmt, path)
            check(f"{name} passes qemu-img check", checked.returncode == 0, checked.stdout)
        info = qemu_info(path, fmt)
        check(f"{name} keeps its virtual size", info["virtual-size"] == qemu_info(original, fmt)["virtual-size"])


def test_generated(mkimage, folder):
    cases = (("vhd-fixed", "vpc", ["--size", "48M", "--pattern", "D.D"], 48 * MiB),
             ("vhd-dynamic", "vpc", ["--size", "48M", "--pattern", "DZ.D"], 48 * MiB),
             ("vhdx-fixed", "vhdx", ["--size", "48M", "--block", "8M", "--pattern", "D"], 48 * MiB),
             ("vhdx-dynamic", "vhdx", ["--size", "48M", "--block", "8M", "--pattern", "DZ.D"], 48 * MiB),
             ("vhdx-fixed", "vhdx", ["--size", "2T"], 2 << 40))
    for kind, fmt, options, size in cases:
        path = os.path.join(folder, f"gen-{kind}-{size}.img")
        rc, out = wine(mkimage, kind, windows_path(path), *options)
        if rc != 0:
            check(f"mkimage {kind}", False, out)
            continue
        info = qemu_info(path, fmt)
        check(f"mkimage {kind} {size} read by QEMU", info["virtual-size"] == size, str(info))
        if fmt == "vhdx":
            checked = run("qemu-img", "check", "-f", fmt, path)
            check(f"mkimage {kind} passes qemu-img check", checked.returncode == 0, checked.stdout)
        check(f"mkimage {kind} {size} is sparse", os.stat(path).st_blocks * 512 < 64 * MiB)
    path = os.path.join(folder, "gen.iso")
    wine(mkimage, "iso9660", windows_path(path), "--size", "1M")
    described = run("isoinfo", "-d", "-i", path).stdout
    check("mkimage iso9660 read by isoinfo", "Volume id: TESSEL" in described and "Volume size is: 512" in described, described)


def start_wine(ctl):
    """One lasting wineserver, and Wine's own background processes started without our
    pipes: otherwise each call waits for them to exit."""
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-p"], **quiet)
    subprocess.run(["wine", ctl, "list"], **quiet)


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    ctl, mkimage = sys.argv[1:]
    start_wine(ctl)
    with tempfile.TemporaryDirectory(prefix="foreign-images-") as folder:
        os.environ["VIRTDISK_STANDIN_STATE"] = windows_path(os.path.join(folder, "state"))
        for test in (lambda: test_reports(ctl, os.path.join(folder, "reports")),
                     lambda: test_refusals(ctl, folder),
                     lambda: test_compaction(ctl, os.path.join(folder, "compaction")),
                     lambda: test_generated(mkimage, folder)):
            test()
    print(f"{results['passed']} passed, {results['failed']} failed")
    return 1 if results["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
