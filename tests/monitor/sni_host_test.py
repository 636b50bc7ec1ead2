#!/usr/bin/python3
"""Pulsewatch under a StatusNotifierItem host of the test's own, on a private
session bus and an X display without any X tray. The host side does what
KDE Plasma and GNOME's AppIndicator extension do: it reads the item's
properties and its D-Bus menu, asks for the menu (ContextMenu, AboutToShow)
and clicks menu items (Event).

Usage (inside dbus-run-session, DISPLAY set): sni_host_test.py PULSEWATCH
APP_FOLDER OUTPUT_DIR
"""
import os
import re
import subprocess
import sys
import threading
import time

from gi.repository import Gio, GLib

WATCHER_XML = """<node><interface name="org.kde.StatusNotifierWatcher">
<method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
<method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
<property name="RegisteredStatusNotifierItems" type="as" access="read"/>
<property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
<property name="ProtocolVersion" type="i" access="read"/>
<signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
<signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
<signal name="StatusNotifierHostRegistered"/>
</interface></node>"""

REFUSAL = "現在開いているウインドウを閉じてください。"
MENU = ["Ping(_P)", "-", "設定(_C)", "ログ表示", "-", "開始(_S)", "一時停止(_E)", "-",
        "ご意見・ご要望窓口(_E)", "バージョン情報(_V)", "-", "終了(_X)"]
GREEN, GREY = (0x1E, 0x9E, 0x4A), (0x8A, 0x8F, 0x98)


class Watcher(threading.Thread):
    """The watcher and its one host, on a connection and a thread of their
    own so that they answer while the test waits on the item."""

    def __init__(self):
        super().__init__(daemon=True)
        self.items = []
        self.ready = threading.Event()

    def run(self):
        context = GLib.MainContext.new()
        context.push_thread_default()
        address = Gio.dbus_address_get_for_bus_sync(Gio.BusType.SESSION, None)
        bus = Gio.DBusConnection.new_for_address_sync(
            address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
            Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
        node = Gio.DBusNodeInfo.new_for_xml(WATCHER_XML)
        bus.register_object("/StatusNotifierWatcher", node.interfaces[0], self.call,
                            self.get, None)
        for name in ("org.kde.StatusNotifierWatcher",
                     "org.kde.StatusNotifierHost-%d" % os.getpid()):
            bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus",
                          "org.freedesktop.DBus", "RequestName",
                          GLib.Variant("(su)", (name, 4)), None, 0, 5000, None)
        self.ready.set()
        GLib.MainLoop(context).run()

    def call(self, bus, sender, path, iface, method, params, invocation):
        if method == "RegisterStatusNotifierItem":
            service = params.unpack()[0]
            self.items.append(service if service.startswith(":") or "." in service
                              else sender)
            bus.emit_signal(None, path, iface, "StatusNotifierItemRegistered",
                            GLib.Variant("(s)", (self.items[-1],)))
        invocation.return_value(None)

    def get(self, bus, sender, path, iface, prop):
        return {"RegisteredStatusNotifierItems": GLib.Variant("as", self.items),
                "IsStatusNotifierHostRegistered": GLib.Variant("b", True),
                "ProtocolVersion": GLib.Variant("i", 0)}[prop]


def fail(text):
    print("FAIL: " + text)
    sys.exit(1)


def wait_for(what, check, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = check()
        if value:
            return value
        time.sleep(0.1)
    fail(what)


def xdotool(*args):
    return subprocess.run(["xdotool", *args], capture_output=True, text=True,
                          timeout=15).stdout.split()


def main():
    program, app, out = sys.argv[1:4]
    watcher = Watcher()
    watcher.start()
    if not watcher.ready.wait(10):
        fail("the watcher did not start")
    bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    log_path = os.path.join(out, "sni-program.log")
    log = open(log_path, "w")
    started = time.monotonic()
    proc = subprocess.Popen([program], cwd=app, stdout=log, stderr=subprocess.STDOUT)

    def said(text):
        with open(log_path, encoding="utf-8", errors="replace") as f:
            return f.read().count(text)

    try:
        item = wait_for("the program registered no item: %s" % open(log_path).read(),
                        lambda: watcher.items and watcher.items[0])

        current = {"item": item}

        def call(path, iface, method, signature=None, args=None, reply=None):
            params = GLib.Variant(signature, args) if signature else None
            return bus.call_sync(current["item"], path, iface, method, params,
                                 GLib.VariantType(reply) if reply else None, 0, 5000,
                                 None).unpack()

        def props():
            return call("/StatusNotifierItem", "org.freedesktop.DBus.Properties", "GetAll",
                        "(s)", ("org.kde.StatusNotifierItem",))[0]

        def colours(pixmaps):
            """Pixels of the largest icon near each colour (ARGB, big-endian)."""
            w, h, data = max(pixmaps, key=lambda p: p[0] * p[1])
            near = lambda px, c: px[0] > 200 and all(abs(a - b) < 24 for a, b in zip(px[1:], c))
            pixels = [data[i:i + 4] for i in range(0, len(data), 4)]
            return tuple(sum(near(p, c) for p in pixels) for c in (GREEN, GREY))

        p = props()
        menu_path = p["Menu"]
        if p["ToolTip"][2] != "Pulsewatch" or p["Status"] != "Active":
            fail("item properties: tooltip %r, status %r" % (p["ToolTip"], p["Status"]))
        green, grey = colours(p["IconPixmap"])
        if green < 20 or grey:
            fail("running icon: %d green, %d grey pixels" % (green, grey))
        if menu_path in ("", "/", "/NO_DBUSMENU"):
            fail("no D-Bus menu: %r" % menu_path)
        print("registered %s: tooltip Pulsewatch, running icon (%d green pixels), menu %s"
              % (item, green, menu_path))

        def layout():
            """Each item as (label or '-', enabled), with its id by label."""
            root = call(menu_path, "com.canonical.dbusmenu", "GetLayout", "(iias)",
                        (0, -1, []))[1]
            rows, ids = [], {}
            for cid, cprops, _ in root[2]:
                if cprops.get("type") == "separator":
                    rows.append(("-", None))
                else:
                    rows.append((cprops.get("label", ""), cprops.get("enabled", True)))
                    ids[rows[-1][0]] = cid
            return rows, ids

        def usable():
            return [r[1] for r in layout()[0] if r[0] != "-"]

        rows, ids = layout()
        if [r[0] for r in rows] != MENU or not all(usable()):
            fail("menu as the host reads it: %r" % rows)

        def click(label):
            call(menu_path, "com.canonical.dbusmenu", "Event", "(isvu)",
                 (ids[label], "clicked", GLib.Variant("i", 0), 0))

        def windows_at(x, y):
            found = []
            for w in xdotool("search", "--onlyvisible", "--pid", str(proc.pid)):
                geo = dict(kv.split("=") for kv in
                           xdotool("getwindowgeometry", "--shell", w) if "=" in kv)
                if abs(int(geo.get("X", -99)) - x) <= 2 and abs(int(geo.get("Y", -99)) - y) <= 2:
                    found.append(w)
            return found

        def dismiss_box():
            box = wait_for("no message box", lambda: xdotool(
                "search", "--onlyvisible", "--name", "^Pulsewatch$"))[0]
            subprocess.run(["xdotool", "windowfocus", "--sync", box, "key", "Return"],
                           timeout=15)
            wait_for("the box stayed", lambda: not xdotool(
                "search", "--onlyvisible", "--name", "^Pulsewatch$"))

        # Right click as a host without D-Bus menus asks for it: the menu
        # opens where the host says.
        call("/StatusNotifierItem", "org.kde.StatusNotifierItem", "ContextMenu", "(ii)",
             (210, 150))
        wait_for("no menu at (210, 150)", lambda: windows_at(210, 150))
        subprocess.run(["import", "-window", "root", os.path.join(out, "sni-menu.png")],
                       timeout=15)
        subprocess.run(["xdotool", "key", "Escape"], timeout=15)
        wait_for("the menu stayed open", lambda: not windows_at(210, 150))
        print("ContextMenu(210, 150): the menu opened there (sni-menu.png)")

        # Pause and resume from the host's menu: the icon and tooltip follow.
        for label, tip, running in (("一時停止(_E)", "Pulse Watch - STOP", False),
                                    ("開始(_S)", "Pulse Watch", True)):
            click(label)
            p = wait_for("tooltip after %s: %r" % (label, props()["ToolTip"]),
                         lambda: props()["ToolTip"][2] == tip and props())
            green, grey = colours(p["IconPixmap"])
            if (green > 20 and not grey) != running or (grey > 20 and not green) == running:
                fail("icon after %s: %d green, %d grey pixels" % (label, green, grey))
            print("%s: tooltip %r, %s icon" % (label, tip, "running" if running else "paused"))

        # A tool window open: the host's menu is greyed, asking for it
        # brings only the refusal, and a click on a greyed item does nothing.
        click("バージョン情報(_V)")
        about = wait_for("no About box", lambda: xdotool(
            "search", "--onlyvisible", "--name", "ﾊﾞｰｼﾞｮﾝ情報$"))[0]
        wait_for("menu not greyed: %r" % (layout()[0],), lambda: not any(usable()))
        call(menu_path, "com.canonical.dbusmenu", "AboutToShow", "(i)", (0,))
        wait_for("no refusal after AboutToShow", lambda: said(REFUSAL) == 1)
        dismiss_box()
        call("/StatusNotifierItem", "org.kde.StatusNotifierItem", "ContextMenu", "(ii)",
             (210, 150))
        wait_for("no refusal after ContextMenu", lambda: said(REFUSAL) == 2)
        if windows_at(210, 150):
            fail("the menu opened under the refusal")
        dismiss_box()
        click("終了(_X)")
        time.sleep(1)
        if proc.poll() is not None:
            fail("a greyed 終了 ended the program")
        subprocess.run(["xdotool", "windowfocus", "--sync", about, "key", "Escape"], timeout=15)
        wait_for("menu still greyed after the About box closed",
                 lambda: all(usable()))
        print("tool window open: menu greyed, refusal on AboutToShow and ContextMenu")

        # The host was there from the start: nobody is told of a missing tray.
        time.sleep(max(0.0, started + 6 - time.monotonic()))
        if said("通知領域"):
            fail("told of a missing tray under a StatusNotifierItem host")

        click("終了(_X)")
        try:
            status = proc.wait(10)
        except subprocess.TimeoutExpired:
            fail("終了 did not end the program")
        if status != 0:
            fail("the program ended with status %d" % status)
        print("終了: the program ended")

        # Started again, with a modal tool window (CONFIG) open from the
        # host's menu: asking for the menu still brings the refusal.
        known = len(watcher.items)
        proc = subprocess.Popen([program], cwd=app, stdout=log, stderr=subprocess.STDOUT)
        current["item"] = wait_for("the program registered no second item",
                                   lambda: len(watcher.items) > known and watcher.items[-1])
        menu_path = props()["Menu"]
        rows, ids = layout()
        click("設定(_C)")
        wait_for("設定 did not open CONFIG", lambda: xdotool(
            "search", "--onlyvisible", "--name", "^CONFIG$"))
        wait_for("menu not greyed under CONFIG", lambda: not any(usable()))
        before = said(REFUSAL)
        call(menu_path, "com.canonical.dbusmenu", "AboutToShow", "(i)", (0,))
        wait_for("no refusal over CONFIG after AboutToShow", lambda: said(REFUSAL) == before + 1)
        dismiss_box()
        call("/StatusNotifierItem", "org.kde.StatusNotifierItem", "ContextMenu", "(ii)",
             (210, 150))
        wait_for("no refusal over CONFIG after ContextMenu", lambda: said(REFUSAL) == before + 2)
        dismiss_box()
        proc.terminate()
        try:
            status = proc.wait(10)
        except subprocess.TimeoutExpired:
            fail("SIGTERM with CONFIG open did not end the program")
        if status != 0:
            fail("SIGTERM with CONFIG open: status %d" % status)
        print("CONFIG open: refusal on AboutToShow and ContextMenu")
        print("1 passed, 0 failed")
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()


if __name__ == "__main__":
    main()
