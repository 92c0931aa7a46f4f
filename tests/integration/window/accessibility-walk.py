#!/usr/bin/python3
"""The running window's accessibility tree (AT-SPI) as a screen reader meets it: signs in through
the form's fields and button; every control is named (a picker by its label) on both screens; the
first control has focus; Tab (xdotool) goes round in reading order; the meters are read-only
progress bars from 0 to 100 that rise while recording and fall after. Usage: EMAIL PASSWORD"""
import subprocess
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib

INTERACTIVE = {"push button", "toggle button", "check box", "radio button", "combo box", "text",
               "password text", "slider", "spin button"}
# The page from the top; focus starts at the source picker, so the account bar follows Record.
READING_ORDER = ["Sign Out", "Menu", "System audio source", "Microphone", "System audio gain", "Project",
                 "Refresh projects and meetings", "Meeting", "Create a meeting in this project", "Device ID",
                 "Choose folder", "M4A format", "Record"]
METERS = {"System audio level", "Microphone level"}


def fail(message):
    sys.exit("FAIL: " + message)


def showing(node):
    if node.get_role_name() == "application" or node.get_state_set().contains(Atspi.StateType.SHOWING):
        yield node
        for index in range(node.get_child_count()):
            yield from showing(node.get_child_at_index(index))


def tree():
    desktop = Atspi.get_desktop(0)
    apps = [desktop.get_child_at_index(i) for i in range(desktop.get_child_count())]
    return [n for app in apps if app.get_name() == "VeltraneRecorder" for n in showing(app)]


def spoken_name(node):
    if node.get_role_name() == "combo box":  # its own name is its value
        for relation in node.get_relation_set():
            if relation.get_relation_type() == Atspi.RelationType.LABELLED_BY:
                return relation.get_target(0).get_name()
    return node.get_name()


def wait_for(what, find, seconds=20):
    limit = time.monotonic() + seconds
    while time.monotonic() < limit:
        try:
            found = find()
        except (GLib.Error, AttributeError):  # an object went away while the screen changed
            found = None
        if found:
            return found
        time.sleep(0.2)
    fail("timed out waiting for " + what)


def control(name):
    return wait_for(name, lambda: next((n for n in tree() if n.get_role_name() in INTERACTIVE and
                                        spoken_name(n) == name), None))


def check_names(screen):
    unnamed = [n.get_role_name() for n in tree() if n.get_role_name() in INTERACTIVE and not spoken_name(n)]
    if unnamed:
        fail(f"{screen}: controls without a name: {unnamed}")


def focused():
    return next((spoken_name(n) for n in tree() if n.get_state_set().contains(Atspi.StateType.FOCUSED)), None)


def meters():
    found = {n.get_name(): n for n in tree() if n.get_name() in METERS}
    for name, meter in found.items():
        if (meter.get_role_name() != "progress bar" or "Value" not in meter.get_interfaces() or
                (meter.get_minimum_value(), meter.get_maximum_value()) != (0, 100) or
                meter.get_state_set().contains(Atspi.StateType.EDITABLE)):
            fail(f"{name} is not a read-only progress bar from 0 to 100")
    if set(found) != METERS:
        fail(f"meters found: {list(found)}")
    return {name: meter.get_current_value() for name, meter in found.items()}


control("Email").set_text_contents(sys.argv[1])
control("Password").set_text_contents(sys.argv[2])
check_names("sign-in")
control("Sign in").do_action(0)
wait_for("the first control to have focus", lambda: focused() == "System audio source")
check_names("main screen")
visited = [focused()]
for _ in range(2 * len(READING_ORDER)):
    subprocess.run(["xdotool", "key", "Tab"], check=True)
    wait_for("focus to move on", lambda: focused() not in (None, visited[-1]), 5)
    if focused() == visited[0]:
        break
    visited.append(focused())
start = READING_ORDER.index(visited[0])
if visited != READING_ORDER[start:] + READING_ORDER[:start]:
    fail(f"Tab visited {visited}")
control("Record").do_action(0)
wait_for("the system meter to rise", lambda: meters()["System audio level"] > 0)
control("Stop").do_action(0)
wait_for("the meters to fall to zero", lambda: set(meters().values()) == {0})
print("accessibility walk: names, focus, Tab order and meter values as expected")
