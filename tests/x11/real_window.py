#!/usr/bin/python3
# Drives the real Tessarine on the current X server as a person and a file manager would:
# checks its window, drops pictures on it from this X client, chooses pictures in its open
# dialog, cuts them and reads back the nine tiles.
#
# usage: real_window.py PROGRAM   (DISPLAY set, e.g. under xvfb-run; no window manager)
# exit status: 0 all checks passed, 1 a check failed (FAIL lines say which) or bad use,
# 77 skipped: a tool is missing
import importlib.util, os, pathlib, shutil, struct, subprocess, sys, tempfile, time, urllib.parse

if not (importlib.util.find_spec("Xlib") and shutil.which("xdotool") and shutil.which("convert")):
    print("SKIP: needs the Debian packages python3-xlib, xdotool and imagemagick")
    sys.exit(77)
if len(sys.argv) != 2 or not os.environ.get("DISPLAY"):
    sys.exit("usage: real_window.py PROGRAM   (on an X server: DISPLAY must be set)")
from Xlib import X, display, error
from Xlib.protocol import event

# The colours of a test picture's ninths, row by row. Every picture has its own size, so
# tiles from another picture never pass for its own.
NINTHS = bytes.fromhex("ff0000 00ff00 0000ff ffff00 00ffff ff00ff ffffff 000000 ff8000")
results = []
d = display.Display()
root, atom = d.screen().root, d.intern_atom
xdo = lambda *args: subprocess.run(["xdotool", *map(str, args)], check=True)


def check(ok, what):
    print(("PASS: " if ok else "FAIL: ") + what, flush=True)
    results.append(ok)


def poll(probe, what, seconds=10):  # PROBE's first true answer
    end = time.monotonic() + seconds
    while not (result := probe()):
        if proc.poll() is not None or time.monotonic() > end:
            raise TimeoutError(f"{what}: not within {seconds} s (exit status {proc.returncode})")
        time.sleep(0.05)
    return result


def windows(title=""):  # the program's mapped top-level windows whose title matches TITLE
    search = ["xdotool", "search", "--all", "--onlyvisible", "--pid", str(proc.pid), "--name"]
    found = subprocess.run([*search, title], capture_output=True, text=True).stdout
    return [d.create_resource_object("window", int(w)) for w in found.split()]


def new_box(title, what, click=None):  # WHAT: the one new window titled TITLE, with the focus
    if click:  # made by a click at client x, y in the main window
        act("mousemove", "--window", win.id, *click, "click", 1)
    focus = lambda: d.get_input_focus().focus
    return poll(lambda: [w for w in windows(title) if w != win] == [focus()] and focus(), what)


def answer(name, files):  # the first ClientMessage NAME that came; serves FILES to a drop
    while d.pending_events():
        ev = d.next_event()
        if ev.type == X.SelectionRequest:  # the file list is the one type a drop offers
            ev.requestor.change_property(ev.property, ev.target, 8, files)
            fields = ("time", "requestor", "selection", "target", "property")
            ev.requestor.send_event(event.SelectionNotify(**{f: getattr(ev, f) for f in fields}))
        elif ev.type == X.ClientMessage and ev.client_type == atom(name):
            return ev


def xdnd(paths, x, y):  # drops PATHS at client x, y; true when the target took them
    files = "".join("file://" + urllib.parse.quote(p) + "\r\n" for p in paths).encode()
    at = root.translate_coords(win, x, y)
    poll(lambda: windows() == [win], f"drop at {x},{y}: the other windows close")

    def send(kind, *data, reply=None):  # with REPLY: waits for it, True when it says yes
        win.send_event(event.ClientMessage(window=win, client_type=atom(kind),
                                           data=(32, [source.id, *data, 0, 0, 0, 0][:5])))
        return reply and poll(lambda: answer(reply, files), reply).data[1][1] & 1
    send("XdndEnter", 5 << 24, atom("text/uri-list"))
    if send("XdndPosition", 0, at.x << 16 | at.y, 0, atom("XdndActionCopy"), reply="XdndStatus"):
        return send("XdndDrop", reply="XdndFinished")
    send("XdndLeave")


def picture(name, w, h):  # a PNG of W x H in nine coloured thirds
    path = os.path.join(work, name)
    subprocess.run(["convert", "ppm:-", "-sample", f"{w}x{h}!", path], input=b"P6 3 3 255\n" + NINTHS, check=True)
    return path, w, h


def take_tile(path):  # (kind, width, height, bits per pixel, middle pixel) of a BMP; removes it
    data = path.read_bytes()
    path.unlink()
    offset, w, h, _, bits = struct.unpack_from("<I4xiiHH", data, 10)
    # The middle row, whichever way up the rows are stored.
    i = offset + abs(h) // 2 * ((w * bits // 8 + 3) & ~3) + w // 2 * bits // 8
    return data[:2], w, abs(h), bits, data[i:i + 3][::-1]


def cut_and_check(what, path, w, h, click=(340, 21)):  # "生成图片", then the nine tiles beside PATH
    new_box("^据说打赏作者的人都长的很帅:$", f"{what}: the completion box", click)
    # Each tile is exactly a third of the picture (whose sides divide by 3 here), a 24-bit
    # BMP showing its ninth. One that cannot be read ends the run (OSError, struct.error).
    want = {n: (b"BM", w // 3, h // 3, 24, NINTHS[3 * n - 3:3 * n]) for n in range(1, 10)}
    got = {n: take_tile(pathlib.Path(path).with_name(f"{n}.jpg")) for n in want}
    bad = "".join(f"; {n}.jpg is {got[n]}, expected {want[n]}" for n in want if got[n] != want[n])
    check(not bad, f"{what}: nine {w // 3}x{h // 3} tiles beside it, each showing its ninth{bad}")
    xdo("key", "Return")


def act(*args):  # xdotool ARGS once the other windows have gone and the main one has the focus
    poll(lambda: windows() == [win], f"before {args}: the other windows close")
    win.set_input_focus(X.RevertToParent, X.CurrentTime)
    d.sync()
    xdo(*args)


def choose(path, what):  # "选择图片", then PATH and Return typed into the dialog
    new_box("", what, (56, 21))
    xdo("type", "--delay", 10, path)
    xdo("key", "Return")


# A pristine HOME, and Qt's own widgets for the dialog rather than a desktop's. The
# program's own output goes with ours, so that a failure shows what it said just before.
work = tempfile.mkdtemp(prefix="tessarine-x11-")
env = {k: v for k, v in os.environ.items() if not k.startswith(("XDG_", "QT_", "DBUS_"))}
env.update(HOME=work, XDG_RUNTIME_DIR=work, QT_QPA_PLATFORM="xcb", LC_ALL="C.UTF-8")
one = picture("nine.png", 297, 300)  # given on the command line, as "Open with" gives it
proc = subprocess.Popen([sys.argv[1], one[0]], env=env)
try:
    # The drag source: a window of ours that owns XdndSelection.
    source = root.create_window(-10, -10, 1, 1, 0, X.CopyFromParent, X.InputOnly)
    source.set_selection_owner(atom("XdndSelection"), X.CurrentTime)

    win = poll(lambda: windows("^Tessarine$"), "a window titled Tessarine", 20)[0]
    # No window manager here: the client sits exactly where the program put it.
    g, at, screen = win.get_geometry(), root.translate_coords(win, 0, 0), root.get_geometry()
    wm = win.get_wm_normal_hints()
    sizes = (g.width, g.height, wm.min_width, wm.min_height, wm.max_width, wm.max_height)
    centred = abs(2 * at.x + 400 - screen.width) <= 4 and abs(2 * at.y + 445 - screen.height) <= 4
    # Motif hints: with the "all" bit (1) set the listed functions/decorations are the ones
    # removed, so maximise (16, 64) must be there exactly when "all" is.
    motif = win.get_full_property(atom("_MOTIF_WM_HINTS"), X.AnyPropertyType)
    flags, funcs, decor = motif.value[:3] if motif else (0, 0, 0)
    no_max = flags & 3 == 3 and funcs >> 4 & 1 == funcs & 1 and decor >> 6 & 1 == decor & 1
    check(wm.flags & 48 == 48 and sizes == (400, 445) * 3 and centred and no_max,
          f"size, min, max {sizes}; at {at.x},{at.y}; Motif hints {motif and motif.value}")

    # Keyboard only, once a window manager would give the window the focus: the preview has
    # it at start, then come 选择图片, 生成图片 and 效果预览, whose grid shows over the picture.
    act("key", "Tab", "Return")
    new_box("", "Tab and Return at start: the open dialog")
    xdo("key", "Escape")
    act("key", "Tab", "Return")
    cut_and_check("Tab and Return on 生成图片: the picture given on the command line", *one, None)
    act("key", "Tab", "space")
    poll(lambda: win.get_image(134, 107, 1, 1, X.ZPixmap, 0xFFFFFFFF).data[:3] == b"\xff" * 3, "Space: the grid")

    # Offered again later: should the wrong file be taken, its tiles' size or a warning shows.
    first = picture("黄 first.png", 150, 90)
    pathlib.Path(work, "x.jpg").write_text("shopping list, not a picture\n")
    check(xdnd([first[0], one[0], f"{work}/x.jpg"], 200, 245), "a drop of three files is accepted")
    check(not xdnd([one[0]], 200, 20), "then a drop on the button strip is refused")
    cut_and_check("three dropped files, then a refused drop: the first cut", *first)

    choose(one[0], "the open dialog")
    cut_and_check("the picture chosen in the dialog", *one)
    choose(f"{work}/x.jpg", "the open dialog again")
    new_box("^警告：$", "a text file named x.jpg: the box 警告：")
    xdo("key", "Return")
    poll(lambda: windows() == [win], "the warning closes on Return")
    act("mousemove", "--window", win.id, 200, 245)
    tip = poll(lambda: [w for w in windows() if w != win], "a tooltip over the preview")[0]
    kind = tip.get_full_property(atom("_NET_WM_WINDOW_TYPE"), X.AnyPropertyType).value[0]
    check(kind == atom("_NET_WM_WINDOW_TYPE_TOOLTIP"), "a tooltip shows over the preview")

    # The close button pressed while a large picture loads: the program ends once it has loaded.
    check(xdnd([picture("large.png", 7000, 7000)[0]], 200, 245), "a large picture is dropped")
    win.send_event(event.ClientMessage(window=win, client_type=atom("WM_PROTOCOLS"),
                                       data=(32, [atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0])))
    d.flush()
    check(proc.wait(30) == 0, "closed during the load: the program ends")
except (TimeoutError, OSError, struct.error, error.XError, subprocess.CalledProcessError, subprocess.TimeoutExpired) as e:
    check(False, f"{e}; the program's windows {[(w, w.get_wm_name()) for w in windows()]}, focus {d.get_input_focus().focus}")
finally:
    proc.kill()
    proc.wait()
    shutil.rmtree(work, ignore_errors=True)
sys.exit(0 if all(results) else f"{results.count(False)} check(s) failed")
