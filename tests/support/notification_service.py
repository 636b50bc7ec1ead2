"""A desktop notification service of the test's own: owns
org.freedesktop.Notifications on the session bus (DBUS_SESSION_BUS_ADDRESS)
and appends each Notify call as a JSON line ({"app", "icon", "summary",
"body", "urgency", "timeout"}) to LOG. Prints "READY" once it owns the name
and serves until its standard input closes.

  /usr/bin/python3 notification_service.py LOG
"""
import json
import sys
import threading

from gi.repository import Gio, GLib

XML = """<node><interface name="org.freedesktop.Notifications">
<method name="Notify"><arg type="s"/><arg type="u"/><arg type="s"/><arg type="s"/><arg type="s"/>
<arg type="as"/><arg type="a{sv}"/><arg type="i"/><arg type="u" direction="out"/></method>
<method name="GetCapabilities"><arg type="as" direction="out"/></method>
</interface></node>"""


def main():
    log = sys.argv[1]
    loop = GLib.MainLoop()
    count = [0]

    def call(bus, sender, path, iface, method, params, invocation):
        if method == "Notify":
            app, _, icon, summary, body, _, hints, timeout = params.unpack()
            with open(log, "a", encoding="utf-8") as f:
                f.write(json.dumps({"app": app, "icon": icon, "summary": summary, "body": body,
                                    "urgency": hints.get("urgency"), "timeout": timeout},
                                   ensure_ascii=False) + "\n")
            count[0] += 1
            invocation.return_value(GLib.Variant("(u)", (count[0],)))
        else:
            invocation.return_value(GLib.Variant("(as)", (["body"],)))

    def acquired(bus, name):
        print("READY", flush=True)

    def on_bus(bus, name):
        node = Gio.DBusNodeInfo.new_for_xml(XML)
        bus.register_object("/org/freedesktop/Notifications", node.interfaces[0], call, None, None)

    Gio.bus_own_name(Gio.BusType.SESSION, "org.freedesktop.Notifications",
                     Gio.BusNameOwnerFlags.NONE, on_bus, acquired, None)
    threading.Thread(target=lambda: (sys.stdin.read(), GLib.idle_add(loop.quit)),
                     daemon=True).start()
    loop.run()


if __name__ == "__main__":
    main()
