#!/usr/bin/python3
# A stand-in for the desktop's screen saver service on a test's private session bus: owns
# org.freedesktop.ScreenSaver and prints "ready", then every Inhibit and UnInhibit it gets, one a
# line ("Inhibit <application> <reason> -> <cookie>", "UnInhibit <cookie>").
from gi.repository import Gio, GLib

INTERFACE = """<node><interface name="org.freedesktop.ScreenSaver">
  <method name="Inhibit"><arg type="s" direction="in"/><arg type="s" direction="in"/>
    <arg type="u" direction="out"/></method>
  <method name="UnInhibit"><arg type="u" direction="in"/></method>
</interface></node>"""
cookies = [0]


def called(connection, sender, path, interface, method, parameters, invocation):
    if method == "Inhibit":
        cookies[0] += 1
        print(f"Inhibit {parameters[0]} {parameters[1]} -> {cookies[0]}", flush=True)
        invocation.return_value(GLib.Variant("(u)", (cookies[0],)))
    else:
        print(f"UnInhibit {parameters[0]}", flush=True)
        invocation.return_value(None)


def bus_acquired(connection, name):
    node = Gio.DBusNodeInfo.new_for_xml(INTERFACE)
    connection.register_object("/org/freedesktop/ScreenSaver", node.interfaces[0], called, None, None)


Gio.bus_own_name(Gio.BusType.SESSION, "org.freedesktop.ScreenSaver", Gio.BusNameOwnerFlags.NONE,
                 bus_acquired, lambda *_: print("ready", flush=True), lambda *_: exit(1))
GLib.MainLoop().run()
