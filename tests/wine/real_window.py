#!/usr/bin/python3
# The Windows program under Wine on the current X server, as a person meets it: installed by
# its installer, started with a picture as "Open with" starts it, its window, 生成图片 clicked,
# the nine tiles beside the picture read back; then uninstalled, leaving nothing behind.
#
# usage: real_window.py SETUP.EXE VERSION   (DISPLAY and WINEPREFIX set, e.g. under xvfb-run)
# exit status: 0 all checks passed, 1 a check failed (FAIL lines say which)
import os, pathlib, shutil, struct, subprocess, sys, tempfile, time

NINTHS = bytes.fromhex("ff0000 00ff00 0000ff ffff00 00ffff ff00ff ffffff 000000 ff8000")
setup, version = sys.argv[1:3]
prefix = pathlib.Path(os.environ["WINEPREFIX"])
home = prefix / "drive_c/Program Files/Tessarine"
menu = prefix / "drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tessarine.lnk"
keys = {"uninstall": r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Tessarine",
        "open with": r"HKLM\Software\Classes\Applications\tessarine.exe\shell\open\command",
        "png list": r"HKLM\Software\Classes\.png\OpenWithList\tessarine.exe"}
results = []


def check(ok, what):
    print(("PASS: " if ok else "FAIL: ") + what, flush=True)
    results.append(ok)


def wine(*args, **kw):
    return subprocess.run(["wine", *args], capture_output=True, text=True, **kw)


def reg(key):  # the key's values as reg.exe lists them, or None when it is not there
    out = wine("reg", "query", key)
    return out.stdout if out.returncode == 0 else None


def windows(title):
    found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", title],
                           capture_output=True, text=True).stdout
    return found.split()


def poll(probe, what, seconds=30):
    end = time.monotonic() + seconds
    while not (result := probe()):
        if time.monotonic() > end:
            raise TimeoutError(f"{what}: not within {seconds} s")
        time.sleep(0.2)
    return result


def tile(path):  # (kind, width, height, bits per pixel, middle pixel) of a BMP
    data = path.read_bytes()
    offset, w, h, _, bits = struct.unpack_from("<I4xiiHH", data, 10)
    i = offset + abs(h) // 2 * ((w * bits // 8 + 3) & ~3) + w // 2 * bits // 8
    return data[:2], w, abs(h), bits, data[i:i + 3][::-1]


work = pathlib.Path(tempfile.mkdtemp(prefix="tessarine-wine-"))
program = None
try:
    check(wine(setup, "/S", timeout=120).returncode == 0, "the installer runs silently")
    value = reg(keys["open with"]) or ""
    check((home / "tessarine.exe").is_file() and menu.is_file() and version in (reg(keys["uninstall"]) or "")
          and '\\tessarine.exe" "%1"' in value and reg(keys["png list"]) is not None,
          "installed: Program Files, the Start menu, Add/Remove Programs with its version, Open with")

    # The command line, answered in a box as for a program without a console: a mistake ends
    # the program with status 2.
    mistake = subprocess.Popen(["wine", str(home / "tessarine.exe"), "--bogus"])
    poll(lambda: windows("^Tessarine$"), "the box for an unknown option")
    subprocess.run(["xdotool", "key", "Return"])
    check(mistake.wait(30) == 2, "an unknown option: a box, then status 2")

    picture = work / "九宫格.png"  # 297 x 300 in nine coloured thirds
    subprocess.run(["convert", "ppm:-", "-sample", "297x300!", picture], check=True,
                   input=b"P6 3 3 255\n" + NINTHS)
    windows_path = wine("winepath", "-w", str(picture)).stdout.strip()
    program = subprocess.Popen(["wine", str(home / "tessarine.exe"), windows_path])
    win = poll(lambda: windows("^Tessarine$"), "the window titled Tessarine")[0]
    size = subprocess.run(["xdotool", "getwindowgeometry", "--shell", win],
                          capture_output=True, text=True).stdout
    check("WIDTH=400\n" in size and "HEIGHT=445\n" in size, f"the window is 400 x 445: {size.split()}")

    # 生成图片, until the picture given on the command line has loaded and the completion box shows.
    def cut():
        subprocess.run(["xdotool", "mousemove", "--window", win, "340", "21", "click", "1"])
        time.sleep(0.5)
        if windows("^通知:$"):  # not loaded yet
            subprocess.run(["xdotool", "key", "Return"])
        return windows("^据说打赏作者的人都长的很帅:$")
    poll(cut, "the completion box after 生成图片")
    want = {n: (b"BM", 99, 100, 24, NINTHS[3 * n - 3:3 * n]) for n in range(1, 10)}
    got = {n: tile(work / f"{n}.jpg") for n in want}
    bad = "".join(f"; {n}.jpg is {got[n]}" for n in want if got[n] != want[n])
    check(not bad, f"nine 99x100 tiles beside the picture, each showing its ninth{bad}")
    subprocess.run(["xdotool", "key", "Return"])
except (TimeoutError, OSError, struct.error, subprocess.SubprocessError) as e:
    check(False, str(e))
finally:
    if program:  # and the Windows process it started
        program.kill()
        program.wait()
        subprocess.run(["wineserver", "-k"])

try:
    wine(str(home / "uninstall.exe"), "/S", timeout=60)
    # The uninstaller runs from a copy of itself, so that it can remove itself too.
    poll(lambda: not home.exists(), "the program's folder removed")
    check(not menu.exists() and all(reg(k) is None for k in keys.values()),
          "uninstalled: the Start menu entry and every registry key gone")
except (TimeoutError, OSError, subprocess.SubprocessError) as e:
    check(False, str(e))
shutil.rmtree(work, ignore_errors=True)
sys.exit(0 if results and all(results) else f"{results.count(False)} check(s) failed")
