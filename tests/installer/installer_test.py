#!/usr/bin/env python3
"""The installer and the portable zip under Wine, in a prefix of their own.

usage: installer_test.py TESTBED_SH BUILD_DIR VERSION SETUP OLDER_VERSION OLDER_SETUP ZIP
                         TESSEL_EXE PROBE_EXE
"""
import difflib, os, pathlib, re, shutil, subprocess, sys, time, zipfile

GUID = "{6F1C2B7A-93D4-4E85-B0A2-5C7E19D4F360}"
RUN = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run"
POLICY = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Policies\System"
UNINSTALL = r"HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall" + "\\" + GUID
EXE, UNINSTALLER = r"C:\Program Files\Tessel\tessel.exe", r"C:\Program Files\Tessel\uninstall.exe"
KEPT_IMAGE = r"C:\disks\kept.vhd"

testbed, build, version, setup, older, older_setup, portable, tessel_exe, probe = sys.argv[1:]
prefix = os.path.join(build, "wine", "installer")
drive_c = os.path.join(prefix, "drive_c")
task_file = os.path.join(drive_c, "windows", "system32", "tasks", "Tessel")
built = pathlib.Path(tessel_exe).read_bytes()
company = re.search("CompanyName\0+([^\0]+)", built.decode("utf-16-le", "replace")).group(1)
logon_nsh = pathlib.Path(__file__).parent.joinpath("../../installer/logon.nsh").read_text()
logon_nsh = dict(re.findall(r'^!define (\w+) "?([^"\n]*)', logon_nsh, re.M))
# What Wine keeps of the task: it writes IgnoreNew whatever MultipleInstancesPolicy it got.
TASK = [("Author", company), ("Description", logon_nsh["TASK_DESCRIPTION"]),
        ("DisallowStartIfOnBatteries", "false"), ("StopIfGoingOnBatteries", "false"),
        ("ExecutionTimeLimit", "PT0S"), ("Priority", "4")]
env = dict(os.environ, BUILD_DIR=build, WINEPREFIX=prefix,
           WINEDLLOVERRIDES=os.environ.get("WINEDLLOVERRIDES", "") + ";winemenubuilder.exe=d")
failures = []


def check(name, ok, detail=""):
    print(("ok   " if ok else "FAIL ") + name + ("" if ok else ": " + str(detail)), flush=True)
    failures.extend([] if ok else [name])


def wine(*args):
    done = subprocess.run(["wine", *args], env=env, capture_output=True, text=True,
                          stdin=subprocess.DEVNULL)
    return done.returncode, done.stdout.replace("\r", "").strip()


def reg(key, name):
    out = wine("reg", "query", key, "/v", name)[1]
    found = re.search(r"^ {4}" + re.escape(name) + r" {4}(REG_\w+) {4}(.*)$", out, re.M)
    return found.groups() if found else None


def snapshot():
    """The files of drive C: but Windows' own and the temporary ones, and HKLM\\SOFTWARE."""
    files = []
    for root, dirs, names in os.walk(drive_c):
        dirs[:] = [d for d in dirs if d not in ("windows", "Temp")]
        files += sorted(os.path.relpath(os.path.join(root, n), drive_c) for n in names)
    return files + wine("reg", "query", r"HKLM\SOFTWARE", "/s")[1].splitlines()


def wait_until(condition, seconds=60):
    deadline = time.monotonic() + seconds
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.1)
    return condition()


def install(name, package, expected_version):
    check(name, wine(package, "/S")[0] == 0 and reg(UNINSTALL, "DisplayVersion")
          == ("REG_SZ", expected_version), reg(UNINSTALL, "DisplayVersion"))


def uninstall(name, before):
    # The uninstaller runs on from a copy of itself; its last step removes its own entry.
    check(name + " ends", wine(UNINSTALLER, "/S")[0] == 0 and wait_until(
        lambda: reg(UNINSTALL, "DisplayName") is None))
    after = snapshot()
    check(name + " leaves what was there before, lists included", after == before,
          "\n" + "\n".join(difflib.unified_diff(before, after, lineterm="", n=1)))


def check_installed():
    folder = pathlib.Path(drive_c, "Program Files", "Tessel")
    check("tessel.exe in Program Files\\Tessel", (folder / "tessel.exe").read_bytes() == built)
    link = pathlib.Path(drive_c, "ProgramData/Microsoft/Windows/Start Menu/Programs/Tessel.lnk")
    check("the Start menu shortcut starts it", EXE.encode() in link.read_bytes())
    kib = sum(file.stat().st_size for file in folder.iterdir()) / 1024
    size = reg(UNINSTALL, "EstimatedSize")
    check("the estimated size", size and abs(int(size[1], 16) - kib) < 1, size)
    for key, name, expected in [
            (RUN, GUID, f'"{EXE}"'), (UNINSTALL, "DisplayName", "Tessel"),
            (UNINSTALL, "Publisher", company), (UNINSTALL, "DisplayIcon", EXE + ",0"),
            (UNINSTALL, "UninstallString", f'"{UNINSTALLER}"'),
            (UNINSTALL, "QuietUninstallString", f'"{UNINSTALLER}" /S')]:
        check(key + "\\" + name, reg(key, name) == ("REG_SZ", expected), reg(key, name))
    with zipfile.ZipFile(portable) as z:
        check("the portable zip holds tessel.exe alone",
              z.namelist() == ["tessel.exe"] and z.read("tessel.exe") == built, z.namelist())


def logon_start():
    """The Run value and what Wine keeps of the task, or None."""
    if not os.path.exists(task_file):
        return reg(RUN, GUID), None
    task = pathlib.Path(task_file).read_text(encoding="utf-8-sig")
    return reg(RUN, GUID), re.findall(rf"<({'|'.join(n for n, _ in TASK)})>([^<]*)<", task)


def check_logon_start(name, expected):
    check(name, logon_start() == expected, logon_start())


def main():
    subprocess.run(["bash", "-c", 'source "$0"; testbed_prefix installer', testbed], env=env,
                   check=True)
    try:
        user = wine("cmd", "/c", "echo %USERNAME%")[1]
        wine("reg", "add", rf"HKLM\SOFTWARE\{GUID}\{user}", "/v", KEPT_IMAGE, "/d", "-", "/f")
        before = snapshot()
        install("silent install", setup, version)
        check_installed()
        tessel = subprocess.Popen(["wine", EXE], env=env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        check("the installed Tessel starts", wine(probe, "wait-idle", "60000")[0] == 0)
        check("and shows in the tray", wine(probe, "tray")[1] == "tray icon present")
        check("and reads the user's list", KEPT_IMAGE in wine(probe, "rows")[1])
        uninstall("silent uninstall", before)
        ended = wait_until(lambda: tessel.poll() is not None)
        check("the uninstaller ended Tessel with its quit request",
              ended and tessel.returncode == 1, tessel.returncode)

        install("older version", older_setup, older)
        wine("reg", "delete", RUN, "/v", GUID, "/f")  # the user turned the logon start off
        install("upgrade", setup, version)
        check_logon_start("the upgrade keeps the logon start off", (None, None))
        uninstall("uninstall after the upgrade", before)

        # Wine has User Account Control off; on, the logon start is the task.
        wine("reg", "add", POLICY, "/v", "EnableLUA", "/t", "REG_DWORD", "/d", "1", "/f")
        before = snapshot()
        install("install with User Account Control on", setup, version)
        check_logon_start("the task instead of the Run value", (None, TASK))
        install("upgrade over it", setup, version)
        check_logon_start("the upgrade keeps the task", (None, TASK))
        uninstall("uninstall with User Account Control on", before)
        check_logon_start("the uninstaller removes the task", (None, None))

        # A folder that is not empty where the task's file goes: the Task Scheduler can neither
        # remove it nor store the task.
        os.makedirs(os.path.join(task_file, "in the way"))
        code = wine(setup, "/S")[0]
        check("a silent install says when the task is refused",
              code == int(logon_nsh["TASK_REFUSED_EXIT_CODE"]), code)
        check("and leaves no Run value", reg(RUN, GUID) is None, reg(RUN, GUID))
        shutil.rmtree(task_file)
        uninstall("uninstall after the refused task", before)
    finally:
        subprocess.run(["wineserver", "-k"], env=env)
    print(f"{len(failures)} failed" if failures else "all passed")
    return 1 if failures else 0


sys.exit(main())
