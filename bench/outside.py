#!/usr/bin/python3
# The whole job measured from outside, as a person meets it: the real program on an X server,
# a picture dropped on its preview from another X client (XDND), then 生成图片 until the
# completion box shows. Each round also times `djpeg -bmp` of the same file.
#
# usage: xvfb-run -a bench/outside.py PROGRAM RUNS PICTURE...
#        e.g. after bench/run.sh (which makes the pictures):
#        cmake --build build-bench --target tessarine && xvfb-run -a bench/outside.py \
#            build-bench/tessarine 5 build-bench/pictures/jpeg24*/photo.jpg
# Prints, per picture, the median and the worst of RUNS rounds after one warm-up round:
#   drop: from the drop until the preview shows the picture on the screen
#   cut: from the click on 生成图片 until the completion box has the focus
#   job / djpeg: (drop + cut) against djpeg -bmp of the same file in the same round
# The tiles are written beside each picture and removed again.
import os, pathlib, statistics, subprocess, sys, tempfile, time, urllib.parse
from Xlib import X, display
from Xlib.ext import xtest
from Xlib.protocol import event

if len(sys.argv) < 4 or not os.environ.get("DISPLAY"):
    sys.exit("usage: xvfb-run -a bench/outside.py PROGRAM RUNS PICTURE...")
program, runs, pictures = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
d = display.Display()
root, atom = d.screen().root, d.intern_atom
xdo = lambda *args: subprocess.run(["xdotool", *map(str, args)], check=True)


def poll(probe, what, seconds=30):
    end = time.monotonic() + seconds
    while not (result := probe()):
        if proc.poll() is not None or time.monotonic() > end:
            sys.exit(f"{what}: not within {seconds} s")
        time.sleep(0.002)
    return result


def windows(title=""):
    search = ["xdotool", "search", "--all", "--onlyvisible", "--pid", str(proc.pid), "--name"]
    found = subprocess.run([*search, title], capture_output=True, text=True).stdout
    return [d.create_resource_object("window", int(w)) for w in found.split()]


def focused(title):  # a window of ours other than the main one, with that title, has the focus
    focus = d.get_input_focus().focus
    if not isinstance(focus, type(win)) or focus == win:
        return False
    name = focus.get_full_property(atom("_NET_WM_NAME"), atom("UTF8_STRING"))
    return name is not None and name.value.decode() == title


def preview():  # one row across the preview as the screen shows it: a light probe, polled often
    return win.get_image(50, 140, 300, 1, X.ZPixmap, 0xFFFFFFFF).data


def answer(name, files):
    while d.pending_events():
        ev = d.next_event()
        if ev.type == X.SelectionRequest:
            ev.requestor.change_property(ev.property, ev.target, 8, files)
            fields = ("time", "requestor", "selection", "target", "property")
            ev.requestor.send_event(event.SelectionNotify(**{f: getattr(ev, f) for f in fields}))
        elif ev.type == X.ClientMessage and ev.client_type == atom(name):
            return ev


def drop(path):  # seconds from the drop until the preview shows the picture
    files = ("file://" + urllib.parse.quote(path) + "\r\n").encode()
    poll(lambda: windows() == [win], "the other windows close")
    at = root.translate_coords(win, 200, 245)
    before = preview()

    def send(kind, *data):
        win.send_event(event.ClientMessage(window=win, client_type=atom(kind),
                                           data=(32, [source.id, *data, 0, 0, 0, 0][:5])))
        d.flush()
    send("XdndEnter", 5 << 24, atom("text/uri-list"))
    send("XdndPosition", 0, at.x << 16 | at.y, 0, atom("XdndActionCopy"))
    poll(lambda: answer("XdndStatus", files), "XdndStatus")
    t0 = time.monotonic()
    send("XdndDrop")
    poll(lambda: answer("XdndFinished", files), "XdndFinished")
    # The preview is cleared first, to one colour, and shows the picture once it is loaded.
    shown = lambda image: image != before and image.count(image[:4]) * 4 != len(image)
    poll(lambda: shown(preview()), "the preview shows the picture")
    return time.monotonic() - t0


def cut():  # seconds from the click on 生成图片 until the completion box has the focus
    poll(lambda: windows() == [win], "the other windows close")
    xdo("mousemove", "--window", win.id, 340, 21)
    t0 = time.monotonic()
    xtest.fake_input(d, X.ButtonPress, 1)  # in-process, as xdotool would add its own start-up
    xtest.fake_input(d, X.ButtonRelease, 1)
    d.sync()
    poll(lambda: focused("据说打赏作者的人都长的很帅:"), "the completion box")
    seconds = time.monotonic() - t0
    xdo("key", "Return")
    return seconds


def djpeg(path, out):
    t0 = time.monotonic()
    subprocess.run(["djpeg", "-bmp", "-outfile", out, path], check=True)
    return time.monotonic() - t0


work = tempfile.mkdtemp(prefix="tessarine-outside-")
env = {k: v for k, v in os.environ.items() if not k.startswith(("XDG_", "QT_", "DBUS_"))}
env.update(HOME=work, XDG_RUNTIME_DIR=work, QT_QPA_PLATFORM="xcb", LC_ALL="C.UTF-8")
proc = subprocess.Popen([program], env=env)
try:
    source = root.create_window(-10, -10, 1, 1, 0, X.CopyFromParent, X.InputOnly)
    source.set_selection_owner(atom("XdndSelection"), X.CurrentTime)
    win = poll(lambda: windows("^Tessarine$"), "a window titled Tessarine")[0]
    between = os.path.join(work, "between.png")  # dropped between rounds, so each drop changes it
    subprocess.run(["convert", "-size", "30x30", "gradient:", "-rotate", "90", between], check=True)
    print("| Picture | drop → preview | 生成图片 → box | djpeg -bmp | job / djpeg (median, worst) |")
    print("|---|---|---|---|---|")
    for path in map(os.path.abspath, pictures):
        times = {"drop": [], "cut": [], "djpeg": [], "ratio": []}
        for round in range(runs + 1):
            drop(between)
            sample = {"drop": drop(path), "cut": cut(),
                      "djpeg": djpeg(path, os.path.join(work, "djpeg.bmp"))}
            sample["ratio"] = (sample["drop"] + sample["cut"]) / sample["djpeg"]
            for n in range(1, 10):
                pathlib.Path(path).with_name(f"{n}.jpg").unlink()
            for name, value in sample.items():
                if round > 0:
                    times[name].append(value)
        ms = lambda v: f"{statistics.median(v) * 1000:.0f} ms ({max(v) * 1000:.0f})"
        ratio = lambda v: f"{statistics.median(v):.2f}× ({max(v):.2f}×)"
        print(f"| {path} | {ms(times['drop'])} | {ms(times['cut'])} | {ms(times['djpeg'])} "
              f"| {ratio(times['ratio'])} |", flush=True)
    print(f"\nMedians of {runs} rounds after a warm-up round, the worst in brackets.")
finally:
    proc.kill()
    proc.wait()
    subprocess.run(["rm", "-rf", work])
