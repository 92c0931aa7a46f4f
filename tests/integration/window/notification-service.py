#!/usr/bin/python3
"""Stand-ins for the desktop's notification service and tray on the test's private session bus.

Owns org.freedesktop.Notifications and appends one line per Notify call to LOG:
    app_name<TAB>app_icon<TAB>summary<TAB>body
and org.kde.StatusNotifierWatcher (a tray host is registered; status icons are accepted and
listed in LOG as "tray<TAB>service").
Usage: notification-service.py LOG  (runs until terminated; prints "ready" once it owns the names)
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

WATCHER = """
<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  </interface>
</node>
"""

log_path = sys.argv[1]
items = []
owned = []
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


def on_watcher_call(connection, sender, path, interface, method, parameters, invocation):
    if method == "RegisterStatusNotifierItem":
        service = parameters.unpack()[0]
        items.append(service if service.startswith(":") or service.startswith("org") else sender)
        with open(log_path, "a", encoding="utf-8") as log:
            log.write(f"tray\t{items[-1]}\n")
    invocation.return_value(None)


def on_watcher_property(connection, sender, path, interface, name):
    return {"RegisteredStatusNotifierItems": GLib.Variant("as", items),
            "IsStatusNotifierHostRegistered": GLib.Variant("b", True),
            "ProtocolVersion": GLib.Variant("i", 0)}[name]


def on_bus(connection, name):
    if name == "org.freedesktop.Notifications":
        info = Gio.DBusNodeInfo.new_for_xml(INTERFACE).interfaces[0]
        connection.register_object("/org/freedesktop/Notifications", info, on_call, None, None)
    else:
        info = Gio.DBusNodeInfo.new_for_xml(WATCHER).interfaces[0]
        connection.register_object("/StatusNotifierWatcher", info, on_watcher_call, on_watcher_property, None)


def on_name(connection, name):
    owned.append(name)
    if len(owned) == 2:
        print("ready", flush=True)


for bus_name in ("org.freedesktop.Notifications", "org.kde.StatusNotifierWatcher"):
    Gio.bus_own_name(Gio.BusType.SESSION, bus_name, Gio.BusNameOwnerFlags.NONE, on_bus, on_name,
                     lambda *a: sys.exit(1))
GLib.MainLoop().run()
