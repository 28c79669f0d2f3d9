#!/usr/bin/python3
# Drives the real Tessarine on the current X server as a person and a file manager would:
# checks its window, drops pictures on it from this X client, chooses pictures in its open
# dialog, cuts them and reads back the nine tiles.
#
# usage: real_window.py PROGRAM   (DISPLAY set, e.g. under xvfb-run; no window manager)
# exit status: 0 all checks passed, 1 a check failed (FAIL lines say which) or bad use,
# 77 skipped: a tool is missing
import os, pathlib, select, shutil, struct, subprocess, sys, tempfile, time, urllib.parse, zlib

try:
    from Xlib import X, Xatom, display, error
    from Xlib.protocol import event
except ImportError:
    event = None
if not event or not shutil.which("xdotool"):
    print("SKIP: needs the Debian packages python3-xlib and xdotool")
    sys.exit(77)
if len(sys.argv) != 2 or not os.environ.get("DISPLAY"):
    sys.exit("usage: real_window.py PROGRAM   (on an X server: DISPLAY must be set)")

COLOURS = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 0), (0, 255, 255),
           (255, 0, 255), (255, 255, 255), (0, 0, 0), (255, 128, 0)]
failures = []
d = display.Display()
root = d.screen().root
atom = d.intern_atom
xdo = lambda *args: subprocess.run(["xdotool", *map(str, args)], check=True)


class Fatal(Exception): pass


def check(ok, what):
    print(("PASS: " if ok else "FAIL: ") + what, flush=True)
    if not ok:
        failures.append(what)


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


def wait_box(title, what):  # the one new window (titled TITLE, or any) with the keyboard focus
    def focused_box():
        boxes = [w for w, t in windows().items() if w != win.id and title in (None, t)]
        focus = d.get_input_focus().focus
        return len(boxes) == 1 and getattr(focus, "id", focus) == boxes[0] and boxes[0]
    return poll(focused_box, f"{what}: a window titled {title or 'anything'} with the focus")


def close_box(box, what):
    xdo("key", "Return")
    poll(lambda: box not in windows(), f"{what}: the box closes on Return", 5)


def click(x, y):  # at client x, y of the main window, once its boxes and dialogs have gone
    poll(lambda: list(windows()) == [win.id], f"click at {x},{y}: the other windows close", 5)
    at = root.translate_coords(win, x, y)
    xdo("mousemove", at.x, at.y, "click", 1)


def wait_event(wanted, what, payload=b""):  # serves the dropped file list meanwhile
    until = time.monotonic() + 5
    while d.pending_events() or select.select([d], [], [], max(0, until - time.monotonic()))[0]:
        if not d.pending_events():  # data, but no event yet
            continue
        ev = d.next_event()
        if ev.type == X.SelectionRequest:
            ok = ev.target == atom("text/uri-list") and ev.property
            if ok:
                ev.requestor.change_property(ev.property, ev.target, 8, payload)
            ev.requestor.send_event(event.SelectionNotify(
                time=ev.time, requestor=ev.requestor, selection=ev.selection, target=ev.target,
                property=ev.property if ok else X.NONE))
            d.flush()
        elif wanted(ev):
            return ev
    raise Fatal(f"{what}: no answer within 5 s")


def xdnd(paths, x, y):  # drops PATHS at client x, y; True when the target took them
    payload = "".join("file://" + urllib.parse.quote(p) + "\r\n" for p in paths).encode()
    at = root.translate_coords(win, x, y)

    def send(kind, *data):
        win.send_event(event.ClientMessage(window=win, client_type=atom(kind),
                                           data=(32, [source.id, *data])))
        d.flush()

    def answer(kind):
        return wait_event(lambda e: e.type == X.ClientMessage and e.client_type == atom(kind),
                          f"drop at {x},{y}: {kind}", payload).data[1][1] & 1
    send("XdndEnter", 5 << 24, atom("text/uri-list"), 0, 0)
    send("XdndPosition", 0, at.x << 16 | at.y, stamp, atom("XdndActionCopy"))
    if not answer("XdndStatus"):
        send("XdndLeave", 0, 0, 0, 0)
        return False
    send("XdndDrop", 0, stamp, 0, 0)
    return answer("XdndFinished")


def picture(name, w, h, turn):  # a PNG in nine coloured thirds, COLOURS turned by TURN
    colour = lambda x, y: COLOURS[(3 * y // h * 3 + 3 * x // w + turn) % 9]
    rows = b"".join(b"\0" + b"".join(bytes(colour(x, y)) for x in range(w)) for y in range(h))
    chunk = lambda k, b: struct.pack(">I", len(b)) + k + b + struct.pack(">I", zlib.crc32(k + b))
    path = pathlib.Path(work, name)
    path.parent.mkdir(exist_ok=True)
    head = struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)  # 8-bit RGB
    path.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", head)
                     + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
    return str(path), w, h, turn


def cut_and_check(picture, what):  # "生成图片", then the nine tiles beside PICTURE
    path, w, h, turn = picture
    for tile in pathlib.Path(path).parent.glob("[1-9].jpg"):
        tile.unlink()
    click(340, 21)
    box = wait_box("据说打赏作者的人都长的很帅:", f"{what}: completion box")
    # Each tile is exactly a third of the picture (whose sides divide by 3 here), a 24-bit
    # BMP showing its ninth; its middle pixel is read whichever way up the rows are stored.
    bad = []
    for n in range(1, 10):
        try:
            data = pathlib.Path(path).with_name(f"{n}.jpg").read_bytes()
            offset, tw, th, _, bits = struct.unpack_from("<I4xiiHH", data, 10)
            i = offset + abs(th) // 2 * ((tw * bits // 8 + 3) & ~3) + tw // 2 * bits // 8
            got = data[:2], tw, abs(th), bits, (data[i + 2], data[i + 1], data[i])
        except (OSError, struct.error, IndexError) as e:
            got = e
        want = b"BM", w // 3, h // 3, 24, COLOURS[(n - 1 + turn) % 9]
        bad += [] if got == want else [f"{n}.jpg is {got}, expected {want}"]
    check(not bad, f"{what}: nine tiles of {w // 3}x{h // 3} beside it, each showing its ninth"
          + "".join("; " + b for b in bad))
    close_box(box, what)


def choose(path, what):  # "选择图片", then PATH and Return typed into the dialog
    click(56, 21)
    wait_box(None, f"{what}: open dialog")
    xdo("type", "--delay", 10, path)
    xdo("key", "Return")


def box_text(box):  # the first line of a message box, swept with the mouse from its right end
    b = d.create_resource_object("window", box)
    at, width = root.translate_coords(b, 0, 20), b.get_geometry().width
    xdo("mousemove", at.x + width - 15, at.y, "mousedown", 1, "mousemove", at.x + width // 2,
        at.y, "mousemove", at.x + 5, at.y, "mouseup", 1)
    source.convert_selection(Xatom.PRIMARY, atom("UTF8_STRING"), atom("REAL_WINDOW"), 0)
    wait_event(lambda e: e.type == X.SelectionNotify, "the selected text")
    text = source.get_full_property(atom("REAL_WINDOW"), X.AnyPropertyType)
    return text.value.decode() if text else ""


# A pristine HOME, and Qt's own widgets for the dialog rather than a desktop's.
work = tempfile.mkdtemp(prefix="tessarine-x11-")
env = {k: v for k, v in os.environ.items() if not k.startswith(("XDG_", "QT_", "DBUS_"))}
env.update(HOME=work, XDG_RUNTIME_DIR=work, QT_QPA_PLATFORM="xcb", LC_ALL="C.UTF-8")
os.chmod(work, 0o700)
log = open(os.path.join(work, "program.log"), "w+")
proc = subprocess.Popen([sys.argv[1]], env=env, stdout=log, stderr=subprocess.STDOUT)
try:
    # The drag source: a window of ours that owns XdndSelection since a real server time.
    source = root.create_window(-10, -10, 1, 1, 0, X.CopyFromParent, X.InputOnly,
                                event_mask=X.PropertyChangeMask)
    source.change_property(Xatom.WM_NAME, Xatom.STRING, 8, b"real_window")
    stamp = wait_event(lambda e: e.type == X.PropertyNotify, "server time").time
    source.set_selection_owner(atom("XdndSelection"), stamp)

    main = poll(lambda: [w for w, t in windows().items() if t == "Tessarine"], "main window", 20)
    check(len(main) == 1, f"one window titled Tessarine ({len(main)})")
    win = d.create_resource_object("window", main[0])
    sw, sh = d.screen().width_in_pixels, d.screen().height_in_pixels
    # No window manager here: the window sits exactly where the program put it.
    def placed():
        g, at = win.get_geometry(), root.translate_coords(win, 0, 0)
        return g.width, g.height, at.x, at.y
    end, want = time.monotonic() + 2, (400, 445, (sw - 400) // 2, (sh - 445) // 2)
    while (p := placed()) != want and time.monotonic() < end:
        time.sleep(0.05)
    check(p[:2] == (400, 445), f"client area {p[0]}x{p[1]}, expected 400x445")
    check(abs(2 * p[2] + 400 - sw) <= 4 and abs(2 * p[3] + 445 - sh) <= 4,
          f"client at {p[2]},{p[3]}, centred on the {sw}x{sh} screen")
    hints = win.get_wm_normal_hints()
    sizes = (hints.min_width, hints.min_height, hints.max_width, hints.max_height)
    check(hints.flags & 48 == 48 and sizes == (400, 445) * 2, f"min and max size {sizes}, fixed")
    # Motif hints: with the "all" bit set the listed functions/decorations are the ones removed.
    motif = win.get_full_property(atom("_MOTIF_WM_HINTS"), X.AnyPropertyType)
    flags, funcs, decor = motif.value[:3] if motif else (0, 0, 0)
    offered = lambda valid, v, bit: not valid or bool(v & bit) != bool(v & 1)
    check(not offered(flags & 1, funcs, 16) and not offered(flags & 2, decor, 64),
          f"_MOTIF_WM_HINTS {motif and list(motif.value)} offer no maximise")

    one, first = picture("one/nine.png", 297, 300, 0), picture("first/黄 first.png", 150, 90, 1)
    second, third = picture("more/second.png", 60, 60, 2), picture("more/third.png", 90, 60, 3)
    check(xdnd([one[0]], 200, 245), "one picture dropped on the preview is accepted")
    cut_and_check(one, "one dropped picture")
    check(xdnd([first[0], second[0], third[0]], 200, 245), "a drop of three files is accepted")
    cut_and_check(first, "three dropped files, the first cut")
    check(not xdnd([second[0]], 200, 20), "a drop on the button strip is refused")
    cut_and_check(first, "after the refused drop, still the first")
    check(not list(pathlib.Path(second[0]).parent.glob("[1-9].jpg")),
          "no tiles beside the dropped files that were not loaded")

    chosen = picture("chosen/chosen.png", 120, 75, 4)
    choose(chosen[0], "the open dialog")
    cut_and_check(chosen, "the picture chosen in the dialog")
    text = pathlib.Path(work, "x.jpg")
    text.write_text("shopping list, not a picture\n")
    choose(str(text), "the open dialog again")
    box = wait_box("警告：", "a text file named x.jpg")
    # Qt sets the selection when the sweep ends, so it may not be there when first asked for.
    said = poll(lambda: box_text(box), "the warning's text, selected with the mouse", 5)
    check(said == "图片格式错误", f"a text file named x.jpg brings the box 警告： saying {said}")
    close_box(box, "the warning")
    check(proc.poll() is None, "the program still runs")
except (Fatal, error.XError, subprocess.CalledProcessError) as e:
    check(False, f"{e}; the program's windows: {windows()}, focus {d.get_input_focus().focus}")
finally:
    proc.kill()
    proc.wait()
    if failures:
        log.seek(0)
        print("program output:\n" + "".join(log.readlines()[-20:]))
    shutil.rmtree(work, ignore_errors=True)
print(f"{len(failures)} check(s) failed" if failures else "all checks passed")
sys.exit(1 if failures else 0)
