#!/usr/bin/python3
"""Drives the real Tessarine on the current X server as a person and a file manager would:
checks its window, drops pictures on it from this X client, chooses pictures in its open
dialog, cuts them and reads back the nine tiles.

usage: real_window.py PROGRAM    (needs DISPLAY, e.g. under xvfb-run, and no window manager)
exit status: 0 all checks passed, 1 a check failed (FAIL lines say which), 2 bad use,
77 a tool is missing (skip)"""
import os, select, shutil, struct, subprocess, sys, tempfile, time, urllib.parse, zlib

try:
    from Xlib import X, Xatom, display, error
    from Xlib.protocol import event
except ImportError:
    print("SKIP: python3-xlib is not installed (Debian package python3-xlib)")
    sys.exit(77)
if not shutil.which("xdotool"):
    print("SKIP: xdotool is not installed (Debian package xdotool)")
    sys.exit(77)
if len(sys.argv) != 2 or not os.environ.get("DISPLAY"):
    sys.exit("usage: real_window.py PROGRAM   (on an X server: DISPLAY must be set)")

COLOURS = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 0), (0, 255, 255),
           (255, 0, 255), (255, 255, 255), (0, 0, 0), (255, 128, 0)]
DONE_TITLE = "据说打赏作者的人都长的很帅:"
failures = []
d = display.Display()
root = d.screen().root
atom = lambda name: d.intern_atom(name)


class Fatal(Exception):
    pass


def check(ok, what):
    print(("PASS: " if ok else "FAIL: ") + what, flush=True)
    if not ok:
        failures.append(what)
    return ok


def poll(probe, what, seconds=10):
    end = time.monotonic() + seconds
    while not (result := probe()):
        if proc.poll() is not None:
            raise Fatal(f"{what}: the program exited with status {proc.returncode}")
        if time.monotonic() > end:
            raise Fatal(f"{what}: not within {seconds} s")
        time.sleep(0.05)
    return result


def windows():  # the program's mapped top-level windows, {id: title}
    found = {}
    for w in root.query_tree().children:
        try:
            pid = w.get_full_property(atom("_NET_WM_PID"), Xatom.CARDINAL)
            if pid and pid.value[0] == proc.pid and w.get_attributes().map_state == X.IsViewable:
                name = w.get_full_property(atom("_NET_WM_NAME"), atom("UTF8_STRING"))
                found[w.id] = name.value.decode() if name else ""
        except error.XError:  # gone while we looked
            pass
    return found


def wait_box(title, what):  # a new window (of TITLE, or any) that holds the keyboard focus
    def focused_box():
        boxes = [w for w, t in windows().items() if w != win.id and title in (None, t)]
        focus = d.get_input_focus().focus
        return len(boxes) == 1 and getattr(focus, "id", focus) == boxes[0] and boxes[0]
    return poll(focused_box, f"{what}: a window titled {title or 'anything'} with the focus")


def close_box(box, what):
    xdo("key", "Return")
    poll(lambda: box not in windows(), f"{what}: the box closes on Return", 5)


def xdo(*args):
    subprocess.run(["xdotool", *args], check=True)


def click(x, y):  # client coordinates of the main window, once no other window is open
    poll(lambda: list(windows()) == [win.id], f"click at {x},{y}: other windows closed", 5)
    at = root.translate_coords(win, x, y)
    xdo("mousemove", str(at.x), str(at.y), "click", "1")


def next_event(until, payload=b""):  # serves requests for our selections while it waits
    while True:
        while not d.pending_events():
            if time.monotonic() > until or not select.select([d], [], [], until - time.monotonic())[0]:
                return None
        ev = d.next_event()
        if ev.type != X.SelectionRequest:
            return ev
        prop = ev.property or ev.target
        if ev.target == atom("TARGETS"):
            ev.requestor.change_property(prop, Xatom.ATOM, 32, [atom("TARGETS"), atom("text/uri-list")])
        elif ev.target == atom("text/uri-list"):
            ev.requestor.change_property(prop, ev.target, 8, payload)
        else:
            prop = X.NONE
        ev.requestor.send_event(event.SelectionNotify(time=ev.time, requestor=ev.requestor,
                                                      selection=ev.selection, target=ev.target,
                                                      property=prop))
        d.flush()


def wait_event(wanted, what, payload=b""):
    until = time.monotonic() + 5
    while ev := next_event(until, payload):
        if wanted(ev):
            return ev
    raise Fatal(f"{what}: no answer within 5 s")


def xdnd(paths, x, y):  # drops PATHS at client point (x, y); True when the target took them
    payload = "".join("file://" + urllib.parse.quote(p) + "\r\n" for p in paths).encode()
    at = root.translate_coords(win, x, y)
    version = min(5, win.get_full_property(atom("XdndAware"), Xatom.ATOM).value[0])

    def send(kind, *data):
        win.send_event(event.ClientMessage(window=win, client_type=atom(kind),
                                           data=(32, [source.id, *data])))
        d.flush()

    def answer(kind):
        return wait_event(lambda e: e.type == X.ClientMessage and e.client_type == atom(kind),
                          f"drop at {x},{y}: {kind}", payload)
    send("XdndEnter", version << 24, atom("text/uri-list"), 0, 0)
    send("XdndPosition", 0, at.x << 16 | at.y, stamp, atom("XdndActionCopy"))
    if not answer("XdndStatus").data[1][1] & 1:
        send("XdndLeave", 0, 0, 0, 0)
        return False
    send("XdndDrop", 0, stamp, 0, 0)
    return answer("XdndFinished").data[1][1] & 1 or version < 5


def picture(path, w, h, turn):  # a PNG in nine coloured thirds, COLOURS turned by TURN
    colour = lambda x, y: COLOURS[(3 * y // h * 3 + 3 * x // w + turn) % 9]
    rows = b"".join(b"\0" + b"".join(bytes(colour(x, y)) for x in range(w)) for y in range(h))
    chunk = lambda kind, data: (struct.pack(">I", len(data)) + kind + data +
                                struct.pack(">I", zlib.crc32(kind + data)))
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
    return path, w, h, turn


def centre_of_bmp(data):  # (width, height, bits, the middle pixel's RGB) of a BMP file
    offset, = struct.unpack_from("<I", data, 10)
    w, h, _, bits = struct.unpack_from("<iiHH", data, 18)
    stride = (w * bits // 8 + 3) & ~3
    i = offset + abs(h) // 2 * stride + w // 2 * (bits // 8)  # the middle row either way up
    return w, abs(h), bits, (data[i + 2], data[i + 1], data[i])


def tiles_in(folder):
    return sorted(n for n in os.listdir(folder) if n in {f"{k}.jpg" for k in range(1, 10)})


def cut_and_check(pic, what):  # "生成图片"; nine tiles of PIC beside it; the box closed
    path, w, h, turn = pic
    folder = os.path.dirname(path)
    for n in tiles_in(folder):
        os.remove(os.path.join(folder, n))
    click(340, 21)
    box = wait_box(DONE_TITLE, f"{what}: completion box")
    # Each tile is exactly a third of the picture (sides that divide by 3 here), not
    # widened by the preview's 0.99-twip unit: the cut measures the picture in its own twips.
    for k in range(9):
        with open(os.path.join(folder, f"{k + 1}.jpg"), "rb") as f:
            data = f.read()
        tile = data[:2] == b"BM" and centre_of_bmp(data)
        check(tile and tile[:3] == (w // 3, h // 3, 24) and
              max(abs(a - b) for a, b in zip(tile[3], COLOURS[(k + turn) % 9])) <= 8,
              f"{what}: {k + 1}.jpg is a 24-bit BMP of a third of {w}x{h} showing its part "
              f"{COLOURS[(k + turn) % 9]} (got {tile and tile[:4]})")
    close_box(box, what)


def choose(path, what):  # "选择图片", then PATH and Return typed into the dialog
    click(56, 21)
    dialog = wait_box(None, f"{what}: open dialog")
    xdo("type", "--delay", "10", path)
    xdo("key", "Return")
    return dialog


def box_text(box):  # the first line of a message box, selected with the mouse
    b = d.create_resource_object("window", box)
    at, width = root.translate_coords(b, 0, 20), b.get_geometry().width
    # Swept from the right end of the text line to the left edge of the box.
    xdo("mousemove", str(at.x + width - 15), str(at.y), "mousedown", "1", "mousemove",
        str(at.x + width // 2), str(at.y), "mousemove", str(at.x + 5), str(at.y), "mouseup", "1")
    source.convert_selection(Xatom.PRIMARY, atom("UTF8_STRING"), atom("TESSARINE_TEXT"),
                             X.CurrentTime)
    d.flush()
    wait_event(lambda e: e.type == X.SelectionNotify, "the selected text")
    text = source.get_full_property(atom("TESSARINE_TEXT"), X.AnyPropertyType)
    return text.value.decode() if text else ""


work = tempfile.mkdtemp(prefix="tessarine-x11-")
env = {k: v for k, v in os.environ.items()
       if not k.startswith(("XDG_", "QT_", "DBUS_", "DESKTOP_SESSION"))}
os.makedirs(os.path.join(work, "run"), 0o700)
env.update(HOME=work, XDG_RUNTIME_DIR=os.path.join(work, "run"), QT_QPA_PLATFORM="xcb",
           LC_ALL="C.UTF-8")
log = open(os.path.join(work, "program.log"), "w+")
proc = subprocess.Popen([sys.argv[1]], env=env, stdout=log, stderr=subprocess.STDOUT)
try:
    # The drag source: a window of our own that owns XdndSelection since a real server time.
    source = root.create_window(-10, -10, 1, 1, 0, X.CopyFromParent, X.InputOnly,
                                event_mask=X.PropertyChangeMask)
    source.change_property(Xatom.WM_NAME, Xatom.STRING, 8, b"real_window")
    stamp = wait_event(lambda e: e.type == X.PropertyNotify, "server time").time
    source.set_selection_owner(atom("XdndSelection"), stamp)

    main = poll(lambda: [w for w, t in windows().items() if t == "Tessarine"], "main window", 20)
    check(len(main) == 1, f"one window titled Tessarine ({len(main)})")
    win = d.create_resource_object("window", main[0])
    sw, sh = d.screen().width_in_pixels, d.screen().height_in_pixels

    def placed():  # no window manager here: the window sits exactly where the program put it
        g, at = win.get_geometry(), root.translate_coords(win, 0, 0)
        return (g.width, g.height, at.x, at.y)
    end = time.monotonic() + 2
    while (p := placed()) != (400, 445, (sw - 400) // 2, (sh - 445) // 2) and time.monotonic() < end:
        time.sleep(0.05)
    check(p[:2] == (400, 445), f"client area {p[0]}x{p[1]}, expected 400x445")
    check(abs(2 * p[2] + 400 - sw) <= 4 and abs(2 * p[3] + 445 - sh) <= 4,
          f"client at {p[2]},{p[3]}, centred on the {sw}x{sh} screen")
    hints = win.get_wm_normal_hints()
    check(hints.flags & 48 == 48 and (hints.min_width, hints.min_height, hints.max_width,
                                      hints.max_height) == (400, 445, 400, 445),
          "WM_NORMAL_HINTS minimum = maximum = 400x445")
    # Motif hints: with the "all" bit set the listed functions/decorations are the ones removed.
    motif = win.get_full_property(atom("_MOTIF_WM_HINTS"), X.AnyPropertyType)
    flags, funcs, decor = motif.value[:3] if motif else (0, 0, 0)
    offered = lambda valid, v, bit: not valid or bool(v & bit) != bool(v & 1)
    check(not offered(flags & 1, funcs, 16) and not offered(flags & 2, decor, 64),
          f"_MOTIF_WM_HINTS {motif and list(motif.value)} offer no maximise")

    one = picture(os.path.join(work, "one", "nine.png"), 297, 300, 0)
    first = picture(os.path.join(work, "first", "黄 first.png"), 150, 90, 1)
    second = picture(os.path.join(work, "second", "second.png"), 60, 60, 2)
    third = picture(os.path.join(work, "second", "third.png"), 90, 60, 3)
    chosen = picture(os.path.join(work, "chosen", "chosen.png"), 120, 75, 4)
    check(xdnd([one[0]], 200, 245), "one picture dropped on the preview is accepted")
    cut_and_check(one, "one dropped picture")
    check(xdnd([first[0], second[0], third[0]], 200, 245), "a drop of three files is accepted")
    cut_and_check(first, "three dropped files, the first cut")
    check(not xdnd([second[0]], 200, 20), "a drop on the button strip is refused")
    cut_and_check(first, "after the refused drop, still the first")
    check(tiles_in(os.path.dirname(second[0])) == [], "no tiles beside the files not loaded")

    dialog = choose(chosen[0], "the open dialog")
    poll(lambda: dialog not in windows(), "the open dialog closes on Return", 5)
    cut_and_check(chosen, "the picture chosen in the dialog")
    text = os.path.join(work, "text", "x.jpg")
    os.makedirs(os.path.dirname(text))
    with open(text, "w") as f:
        f.write("shopping list, not a picture\n")
    choose(text, "the open dialog again")
    box = wait_box("警告：", "a text file named x.jpg")
    said = box_text(box)
    check(said == "图片格式错误", f"a text file named x.jpg brings the box 警告： with 图片格式错误 ({said})")
    close_box(box, "the warning")
    check(proc.poll() is None, "the program still runs")
except (Fatal, error.XError, subprocess.CalledProcessError) as e:
    check(False, f"{e}; the program's windows: {windows()}, focus {d.get_input_focus().focus}")
finally:
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    if failures:
        log.seek(0)
        print("program output:\n" + "".join(log.readlines()[-20:]))
    log.close()
    shutil.rmtree(work, ignore_errors=True)
print(f"{len(failures)} check(s) failed" if failures else "all checks passed")
sys.exit(1 if failures else 0)
