#!/usr/bin/python3
# A drag source as the GTK file managers are (Nautilus, Nemo, Thunar, Caja, PCManFM): a window that
# drags the files named on the command line as a text/uri-list, offering copy, move and link. While
# Shift is held GTK itself narrows the offer to a move alone. A file manager that is told the drop
# was a move takes the files away, so this one removes them then.
#   gtk_drag_source.py 3|4 FILE...
# Prints "ready <x> <y>" (the window's centre on the screen) once the window manager has framed it,
# "drag" as a drag starts and "dropped <copy|move|link|none>" once its own end of the drag is done,
# the files gone by then if the target took a move.

import os
import subprocess
import sys

import gi

version = sys.argv[1]
gi.require_version("Gtk", version + ".0")
gi.require_version("Gdk", version + ".0")
gi.require_version("GdkX11", version + ".0")
from gi.repository import Gdk, GdkX11, GLib, Gtk  # noqa: E402

files = [os.path.abspath(name) for name in sys.argv[2:]]
uris = [GLib.filename_to_uri(name) for name in files]
failed = False


def say(line):
    print(line, flush=True)


def began():
    global failed
    failed = False
    say("drag")


def moved():
    for name in files:
        os.remove(name)


def ended(action):
    if failed:
        say("dropped none")
        return
    names = {Gdk.DragAction.COPY: "copy", Gdk.DragAction.MOVE: "move", Gdk.DragAction.LINK: "link"}
    say("dropped " + names.get(action, "none"))


def refused():
    global failed
    failed = True
    # Handled: no animation of the icon flying back before the end.
    return True


def x11_output(program, xid, *arguments):
    return subprocess.run([program, "-id", str(xid), *arguments], capture_output=True, text=True).stdout


def announce_once_placed(xid):
    # On a loaded machine the window can be shown before the window manager has framed and moved
    # it: points taken then miss it. Framed, it stays where it is.
    if xid() is None or "=" not in x11_output("/usr/bin/xprop", xid(), "_NET_FRAME_EXTENTS"):
        return True
    info = {}
    for line in x11_output("/usr/bin/xwininfo", xid()).splitlines():
        key, _, value = line.strip().partition(":")
        info[key] = value.strip()
    if info.get("Map State") != "IsViewable":
        return True
    x = int(info["Absolute upper-left X"]) + int(info["Width"]) // 2
    y = int(info["Absolute upper-left Y"]) + int(info["Height"]) // 2
    say(f"ready {x} {y}")
    return False


def gtk3():
    window = Gtk.Window(title="gtk drag source")
    window.set_default_size(400, 200)
    area = Gtk.EventBox()
    area.add(Gtk.Label(label="arquivos"))
    window.add(area)
    area.drag_source_set(Gdk.ModifierType.BUTTON1_MASK, [Gtk.TargetEntry.new("text/uri-list", 0, 0)],
                         Gdk.DragAction.COPY | Gdk.DragAction.MOVE | Gdk.DragAction.LINK)
    area.connect("drag-begin", lambda *_: began())
    area.connect("drag-data-get", lambda _w, _c, data, *_: data.set_uris(uris))
    area.connect("drag-data-delete", lambda *_: moved())
    area.connect("drag-failed", lambda *_: refused())
    area.connect("drag-end", lambda _w, context: ended(context.get_selected_action()))
    window.connect("destroy", Gtk.main_quit)
    window.show_all()
    GLib.timeout_add(20, announce_once_placed, lambda: window.get_window().get_xid() if window.get_window() else None)
    Gtk.main()


def gtk4():
    window = Gtk.Window(title="gtk drag source")
    window.set_default_size(400, 200)
    window.set_child(Gtk.Label(label="arquivos"))
    source = Gtk.DragSource()
    source.set_actions(Gdk.DragAction.COPY | Gdk.DragAction.MOVE | Gdk.DragAction.LINK)
    listed = GLib.Bytes.new("".join(uri + "\r\n" for uri in uris).encode())
    source.connect("prepare", lambda *_: Gdk.ContentProvider.new_for_bytes("text/uri-list", listed))
    source.connect("drag-begin", lambda *_: began())
    source.connect("drag-cancel", lambda *_: refused())

    def drag_end(_source, drag, delete):
        if delete:
            moved()
        ended(drag.get_selected_action())

    source.connect("drag-end", drag_end)
    window.get_child().add_controller(source)
    loop = GLib.MainLoop()
    window.connect("close-request", lambda *_: loop.quit())
    window.present()
    GLib.timeout_add(20, announce_once_placed, lambda: window.get_surface().get_xid() if window.get_surface() else None)
    loop.run()


gtk3() if version == "3" else gtk4()
