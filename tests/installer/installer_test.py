#!/usr/bin/env python3
"""The installer and the portable package under Wine, in a prefix of their own.

A silent install puts tessel.exe, the shortcut, the logon start and the Add/Remove entry in
place; the installed Tessel starts from there and shows in the tray; the silent uninstall
ends it with its quit request and takes away exactly what the install added, keeping the
users' lists. An install over an older version keeps the lists and the user's choice about
the logon start.

usage: installer_test.py TESTBED_SH BUILD_DIR VERSION SETUP OLDER_VERSION OLDER_SETUP ZIP
                         TESSEL_EXE PROBE_EXE
"""
import difflib
import os
import re
import subprocess
import sys
import time
import zipfile

GUID = "{6F1C2B7A-93D4-4E85-B0A2-5C7E19D4F360}"
RUN_KEY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run"
UNINSTALL_KEY = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + GUID
LISTS_KEY = "HKLM\\SOFTWARE\\" + GUID
INSTDIR = r"C:\Program Files\Tessel"
INSTALLED_EXE = INSTDIR + r"\tessel.exe"
UNINSTALLER = INSTDIR + r"\uninstall.exe"
SHORTCUT = r"ProgramData/Microsoft/Windows/Start Menu/Programs/Tessel.lnk"
KEPT_IMAGE = r"C:\disks\kept.vhd"
WAIT_S = 60

(testbed, build_dir, version, setup, older_version, older_setup, portable_zip, tessel_exe,
 probe_exe) = sys.argv[1:]
prefix = os.path.join(build_dir, "wine", "installer")
env = dict(os.environ, WINEPREFIX=prefix,
           WINEDLLOVERRIDES=os.environ.get("WINEDLLOVERRIDES", "") + ";winemenubuilder.exe=d")
drive_c = os.path.join(prefix, "drive_c")
failures = []


def check(name, ok, detail=""):
    print(("ok   " if ok else "FAIL ") + name + ("" if ok else ": " + detail), flush=True)
    if not ok:
        failures.append(name)


def wine(*args):
    done = subprocess.run(["wine", *args], env=env, capture_output=True, text=True,
                          stdin=subprocess.DEVNULL)
    return done.returncode, done.stdout.replace("\r", "").strip()


def reg_value(key, name):
    """(type, data) as reg.exe shows them, or None."""
    code, out = wine("reg", "query", key, "/v", name)
    found = re.search(r"^\s{4}" + re.escape(name) + r"\s{4}(REG_\w+)\s{4}(.*)$", out, re.M)
    return (found.group(1), found.group(2)) if code == 0 and found else None


def snapshot():
    """Every file of drive C: outside Windows and the temporary folders, and HKLM\\SOFTWARE."""
    files = []
    for root, dirs, names in os.walk(drive_c):
        dirs[:] = [d for d in dirs if d not in ("windows", "Temp")]
        files += [os.path.relpath(os.path.join(root, n), drive_c) for n in names]
    wine("reg", "export", r"HKLM\SOFTWARE", r"C:\software.reg", "/y")
    exported = os.path.join(drive_c, "software.reg")
    with open(exported, encoding="utf-16") as f:
        registry = f.read().splitlines()
    os.remove(exported)
    return sorted(files) + registry


def same_as(before, name):
    after = snapshot()
    diff = difflib.unified_diff(before, after, lineterm="", n=1)
    check(name, after == before, "\n" + "\n".join(diff))


def company_name(exe):
    """CompanyName from the version record of an executable."""
    with open(exe, "rb") as f:
        text = f.read().decode("utf-16-le", errors="replace")
    found = re.search("CompanyName\0+([^\0]+)", text)
    return found.group(1) if found else None


def wait_until(condition):
    deadline = time.monotonic() + WAIT_S
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.1)
    return condition()


def uninstaller_running():
    """NSIS runs the uninstaller from a copy in the temporary folder (Un.exe)."""
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                command = f.read()
            with open(f"/proc/{pid}/environ", "rb") as f:
                ours = b"WINEPREFIX=" + prefix.encode() + b"\0" in f.read()
        except OSError:
            continue
        if ours and b"\\Un.exe" in command:
            return True
    return False


def uninstall(name):
    code, _ = wine(UNINSTALLER, "/S")
    check(name + ": uninstaller starts", code == 0, f"exit code {code}")
    check(name + ": uninstaller ends",
          wait_until(lambda: reg_value(UNINSTALL_KEY, "DisplayName") is None)
          and wait_until(lambda: not uninstaller_running()))


def install(name, package, expected_version):
    code, _ = wine(package, "/S")
    check(name + ": exit code", code == 0, str(code))
    shown = reg_value(UNINSTALL_KEY, "DisplayVersion")
    check(name + ": version", shown == ("REG_SZ", expected_version), str(shown))


def check_installed():
    folder = os.path.join(drive_c, "Program Files", "Tessel")
    with open(os.path.join(folder, "tessel.exe"), "rb") as ours, open(tessel_exe, "rb") as built:
        check("tessel.exe in Program Files is the build's", ours.read() == built.read())
    size_kb = sum(os.path.getsize(os.path.join(folder, n)) for n in os.listdir(folder)) / 1024
    with open(os.path.join(drive_c, SHORTCUT), "rb") as f:
        link = f.read()
    check("Start menu shortcut points at the installed tessel.exe",
          INSTALLED_EXE.encode("utf-16-le") in link or INSTALLED_EXE.encode() in link)
    expected = [
        (RUN_KEY, GUID, ("REG_SZ", f'"{INSTALLED_EXE}"')),
        (UNINSTALL_KEY, "DisplayName", ("REG_SZ", "Tessel")),
        (UNINSTALL_KEY, "Publisher", ("REG_SZ", company_name(tessel_exe))),
        (UNINSTALL_KEY, "DisplayIcon", ("REG_SZ", INSTALLED_EXE + ",0")),
        (UNINSTALL_KEY, "UninstallString", ("REG_SZ", f'"{UNINSTALLER}"')),
        (UNINSTALL_KEY, "QuietUninstallString", ("REG_SZ", f'"{UNINSTALLER}" /S')),
    ]
    for key, name, value in expected:
        actual = reg_value(key, name)
        check(f"{key}\\{name}", actual == value, f"{actual} instead of {value}")
    estimated = reg_value(UNINSTALL_KEY, "EstimatedSize")
    check("EstimatedSize is the folder's size in KiB",
          estimated and estimated[0] == "REG_DWORD" and abs(int(estimated[1], 16) - size_kb) < 1,
          f"{estimated} for {size_kb:.1f} KiB")


def check_portable_zip():
    with zipfile.ZipFile(portable_zip) as z, open(tessel_exe, "rb") as built:
        names = z.namelist()
        check("the portable zip holds tessel.exe alone",
              names == ["tessel.exe"] and z.read("tessel.exe") == built.read(), str(names))


def check_installed_program_runs():
    tessel = subprocess.Popen(["wine", INSTALLED_EXE], env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    code, out = wine(probe_exe, "wait-idle", str(WAIT_S * 1000))
    check("the installed Tessel starts", code == 0, out)
    tray = wine(probe_exe, "tray")[1]
    check("the installed Tessel shows in the tray", tray == "tray icon present", tray)
    check("the installed Tessel reads the user's list", KEPT_IMAGE in wine(probe_exe, "rows")[1])
    return tessel


def main():
    subprocess.run(["bash", "-c", 'source "$0"; testbed_prefix installer', testbed],
                   env=dict(env, BUILD_DIR=build_dir), check=True, stdin=subprocess.DEVNULL)
    try:
        _, user = wine("cmd", "/c", "echo %USERNAME%")
        wine("reg", "add", f"{LISTS_KEY}\\{user}", "/v", KEPT_IMAGE, "/d", "-", "/f")
        before = snapshot()

        install("install", setup, version)
        check_installed()
        tessel = check_installed_program_runs()
        uninstall("uninstall")
        try:
            code = tessel.wait(WAIT_S)
        except subprocess.TimeoutExpired:
            code = "still running"
        check("the uninstaller ends Tessel with its quit request", code == 1, str(code))
        same_as(before, "the uninstall removes exactly what the install added and keeps the lists")

        install("older version", older_setup, older_version)
        wine("reg", "delete", RUN_KEY, "/v", GUID, "/f")  # the user turned the logon start off
        install("upgrade", setup, version)
        check("the upgrade keeps the logon start off", reg_value(RUN_KEY, GUID) is None,
              str(reg_value(RUN_KEY, GUID)))
        uninstall("uninstall after the upgrade")
        same_as(before, "the upgrade and its uninstall keep the lists and leave nothing behind")
        check_portable_zip()
    finally:
        subprocess.run(["wineserver", "-k"], env=env)
    print(f"{len(failures)} failed" if failures else "all passed")
    return 1 if failures else 0


sys.exit(main())
