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
from Xlib import X, Xatom, display, error
from Xlib.protocol import event

COLOURS = [bytes.fromhex(c) for c in ("ff0000 00ff00 0000ff ffff00 00ffff ff00ff ffffff 000000"
                                       " ff8000").split()]
results = []
d = display.Display()
root = d.screen().root
atom = d.intern_atom
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


def click_for_box(x, y, title, what):  # at client x, y, once the boxes have gone; the new box
    poll(lambda: windows() == [win], f"{what}: the other windows close")
    xdo("mousemove", "--window", win.id, x, y, "click", 1)
    return wait_box(title, what)


def wait_box(title, what):  # the one new window titled TITLE, once it has the keyboard focus
    focus = lambda: d.get_input_focus().focus
    return poll(lambda: [w for w in windows(title) if w != win] == [focus()] and focus(),
                f"{what}: a window titled {title or 'anything'} with the focus")


def next_event(wanted, files=b""):  # the first WANTED event that came; serves FILES to a drop
    while d.pending_events():
        ev = d.next_event()
        if ev.type == X.SelectionRequest:  # the file list is the one type a drop offers
            ev.requestor.change_property(ev.property, ev.target, 8, files)
            fields = ("time", "requestor", "selection", "target", "property")
            ev.requestor.send_event(event.SelectionNotify(**{f: getattr(ev, f) for f in fields}))
        elif wanted(ev):
            return ev


def xdnd(paths, x, y):  # drops PATHS at client x, y; true when the target took them
    files = "".join("file://" + urllib.parse.quote(p) + "\r\n" for p in paths).encode()
    at = root.translate_coords(win, x, y)
    poll(lambda: windows() == [win], f"drop at {x},{y}: the other windows close")

    def send(kind, *data, answer=None):  # with ANSWER: waits for it, True when it says yes
        win.send_event(event.ClientMessage(window=win, client_type=atom(kind),
                                           data=(32, [source.id, *data, 0, 0, 0, 0][:5])))
        is_answer = lambda e: e.type == X.ClientMessage and e.client_type == atom(answer)
        reply = answer and poll(lambda: next_event(is_answer, files), f"drop at {x},{y}: {answer}")
        return reply and reply.data[1][1] & 1
    send("XdndEnter", 5 << 24, atom("text/uri-list"))
    if send("XdndPosition", 0, at.x << 16 | at.y, 0, atom("XdndActionCopy"), answer="XdndStatus"):
        return send("XdndDrop", answer="XdndFinished")
    send("XdndLeave")


def picture(name, w, h, turn):  # a PNG in nine coloured thirds, COLOURS turned by TURN
    path = os.path.join(work, name)
    ninths = b"P6 3 3 255\n" + b"".join(COLOURS[(n + turn) % 9] for n in range(9))
    subprocess.run(["convert", "ppm:-", "-sample", f"{w}x{h}!", path], input=ninths, check=True)
    return path, w, h, turn


def take_tile(path):  # (kind, width, height, bits per pixel, middle pixel) of a BMP; removes it
    try:
        data = path.read_bytes()
        path.unlink()
        offset, w, h, _, bits = struct.unpack_from("<I4xiiHH", data, 10)
        # The middle row, whichever way up the rows are stored.
        i = offset + abs(h) // 2 * ((w * bits // 8 + 3) & ~3) + w // 2 * bits // 8
        return data[:2], w, abs(h), bits, data[i:i + 3][::-1]
    except (OSError, struct.error) as e:
        return e


def cut_and_check(what, path, w, h, turn):  # "生成图片", then the nine tiles beside PATH
    click_for_box(340, 21, "^据说打赏作者的人都长的很帅:$", f"{what}: completion box")
    # Each tile is exactly a third of the picture (whose sides divide by 3 here), a 24-bit
    # BMP showing its ninth.
    want = {n: (b"BM", w // 3, h // 3, 24, COLOURS[(n - 1 + turn) % 9]) for n in range(1, 10)}
    got = {n: take_tile(pathlib.Path(path).with_name(f"{n}.jpg")) for n in want}
    bad = "".join(f"; {n}.jpg is {got[n]}, expected {want[n]}" for n in want if got[n] != want[n])
    check(not bad, f"{what}: nine {w // 3}x{h // 3} tiles beside it, each showing its ninth{bad}")
    xdo("key", "Return")


def choose(path, what):  # "选择图片", then PATH and Return typed into the dialog
    click_for_box(56, 21, "", f"{what}: open dialog")
    xdo("type", "--delay", 10, path)
    xdo("key", "Return")


def box_text(box):  # the first line of a message box, swept with the mouse from its right end
    at, width = root.translate_coords(box, 0, 20), box.get_geometry().width
    xdo("mousemove", at.x + width - 15, at.y, "mousedown", 1, "mousemove", at.x + width // 2,
        at.y, "mousemove", at.x + 5, at.y, "mouseup", 1)
    source.convert_selection(Xatom.PRIMARY, atom("UTF8_STRING"), atom("REAL_WINDOW"), 0)
    poll(lambda: next_event(lambda e: e.type == X.SelectionNotify), "the selected text")
    text = source.get_full_property(atom("REAL_WINDOW"), X.AnyPropertyType)
    return text and text.value.decode()


# A pristine HOME, and Qt's own widgets for the dialog rather than a desktop's.
work = tempfile.mkdtemp(prefix="tessarine-x11-")
env = {k: v for k, v in os.environ.items() if not k.startswith(("XDG_", "QT_", "DBUS_"))}
env.update(HOME=work, XDG_RUNTIME_DIR=work, QT_QPA_PLATFORM="xcb", LC_ALL="C.UTF-8")
log = open(os.path.join(work, "program.log"), "w+")
proc = subprocess.Popen([sys.argv[1]], env=env, stdout=log, stderr=subprocess.STDOUT)
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
          f"size, min, max {sizes}; at {at.x},{at.y}; Motif hints {motif and list(motif.value)}")

    one, first = picture("nine.png", 297, 300, 0), picture("黄 first.png", 150, 90, 1)
    # Apart from the first, so that tiles written beside them are not taken for its own.
    os.mkdir(os.path.join(work, "more"))
    second, third = picture("more/second.png", 60, 60, 2), picture("more/third.png", 90, 60, 3)
    check(xdnd([one[0]], 200, 245), "one picture dropped on the preview is accepted")
    cut_and_check("one dropped picture", *one)
    check(xdnd([first[0], second[0], third[0]], 200, 245), "a drop of three files is accepted")
    cut_and_check("three dropped files, the first cut", *first)
    check(not xdnd([second[0]], 200, 20), "a drop on the button strip is refused")
    cut_and_check("after the refused drop, still the first", *first)

    chosen = picture("chosen.png", 120, 75, 4)
    choose(chosen[0], "the open dialog")
    cut_and_check("the picture chosen in the dialog", *chosen)
    pathlib.Path(work, "x.jpg").write_text("shopping list, not a picture\n")
    choose(f"{work}/x.jpg", "the open dialog again")
    box = wait_box("^警告：$", "a text file named x.jpg")
    # Qt sets the selection when the sweep ends, so it may not be there when first asked for.
    said = poll(lambda: box_text(box), "the warning's text, selected with the mouse")
    check(said == "图片格式错误", f"a text file named x.jpg: the box 警告： says {said}")
    xdo("key", "Return")
    poll(lambda: windows() == [win], "the warning closes on Return")
except (TimeoutError, error.XError, subprocess.CalledProcessError) as e:
    check(False, f"{e}; the program's windows {windows()}, focus {d.get_input_focus().focus}")
finally:
    proc.kill()
    proc.wait()
    if not all(results):
        print("program output:\n" + "".join(open(log.name).readlines()[-20:]))
    shutil.rmtree(work, ignore_errors=True)
print(f"{results.count(False)} check(s) failed" if not all(results) else "all checks passed")
sys.exit(0 if all(results) else 1)
