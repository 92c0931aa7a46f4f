#!/usr/bin/python3
"""A stand-in for the desktop's notification service on the test's private session bus.

Owns org.freedesktop.Notifications and appends one line per Notify call to LOG:
    app_name<TAB>app_icon<TAB>summary<TAB>body
Usage: notification-service.py LOG  (runs until terminated; prints "ready" once it owns the name)
"""
import sys

from gi.repository import Gio, GLib

INTERFACE = """
<node>
  <interface name="org.freedesktop.Notifications">
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/><arg type="u" direction="out"/>
    </method>
    <method name="GetCapabilities"><arg type="as" direction="out"/></method>
    <method name="GetServerInformation">
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
      <arg type="s" direction="out"/><arg type="s" direction="out"/>
    </method>
  </interface>
</node>
"""

log_path = sys.argv[1]
counter = [0]


def on_call(connection, sender, path, interface, method, parameters, invocation):
    if method == "Notify":
        app, _replaces, icon, summary, body = parameters.unpack()[:5]
        with open(log_path, "a", encoding="utf-8") as log:
            log.write(f"{app}\t{icon}\t{summary}\t{body}\n")
        counter[0] += 1
        invocation.return_value(GLib.Variant("(u)", (counter[0],)))
    elif method == "GetCapabilities":
        invocation.return_value(GLib.Variant("(as)", (["body"],)))
    else:
        invocation.return_value(GLib.Variant("(ssss)", ("stand-in", "tests", "1", "1.2")))


def on_bus(connection, name):
    info = Gio.DBusNodeInfo.new_for_xml(INTERFACE).interfaces[0]
    connection.register_object("/org/freedesktop/Notifications", info, on_call, None, None)


def on_name(connection, name):
    print("ready", flush=True)


Gio.bus_own_name(Gio.BusType.SESSION, "org.freedesktop.Notifications", Gio.BusNameOwnerFlags.NONE,
                 on_bus, on_name, lambda *a: sys.exit(1))
GLib.MainLoop().run()
