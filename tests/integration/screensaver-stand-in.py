#!/usr/bin/python3
# A stand-in for the desktop's screen saver on a test's private session bus: prints "ready", then
# each call it gets ("Inhibit <application> <reason> -> <cookie>", "UnInhibit <cookie>").
from gi.repository import Gio, GLib

XML = ('<node><interface name="org.freedesktop.ScreenSaver"><method name="Inhibit"><arg type="s"/>'
       '<arg type="s"/><arg type="u" direction="out"/></method><method name="UnInhibit"><arg type="u"/>'
       '</method></interface></node>')
cookies = [0]


def called(connection, sender, path, interface, method, arguments, invocation):
    if method == "Inhibit":
        cookies[0] += 1
        print(f"Inhibit {arguments[0]} {arguments[1]} -> {cookies[0]}", flush=True)
        invocation.return_value(GLib.Variant("(u)", (cookies[0],)))
    else:
        print(f"UnInhibit {arguments[0]}", flush=True)
        invocation.return_value(None)


Gio.bus_own_name(Gio.BusType.SESSION, "org.freedesktop.ScreenSaver", Gio.BusNameOwnerFlags.NONE,
                 lambda bus, _: bus.register_object("/org/freedesktop/ScreenSaver",
                                                    Gio.DBusNodeInfo.new_for_xml(XML).interfaces[0], called),
                 lambda *_: print("ready", flush=True), lambda *_: exit(1))
GLib.MainLoop().run()
