#!/usr/bin/python3
"""The running window's accessibility tree (AT-SPI) as a screen reader meets it: signs in through
the form; every control is named (a picker by its label) on both screens; the first control has
focus; Tab (xdotool) goes round in reading order; the meters are read-only progress bars from 0 to
100 that rise while recording and fall after. Usage: accessibility-walk.py EMAIL PASSWORD"""
import subprocess
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib

CONTROLS = {"push button", "toggle button", "check box", "combo box", "text", "password text", "slider"}
# The page from the top; focus starts at the source picker, so the account bar follows Record.
READING_ORDER = ["Sign Out", "Menu", "System audio source", "Microphone", "System audio gain", "Project",
                 "Refresh projects and meetings", "Meeting", "Create a meeting in this project", "Device ID",
                 "Choose folder", "M4A format", "Record"]


def showing(node):
    if node.get_role_name() == "application" or node.get_state_set().contains(Atspi.StateType.SHOWING):
        yield node
        for index in range(node.get_child_count()):
            yield from showing(node.get_child_at_index(index))


def tree():
    desktop = Atspi.get_desktop(0)
    apps = [desktop.get_child_at_index(i) for i in range(desktop.get_child_count())]
    return [n for app in apps if app.get_name() == "VeltraneRecorder" for n in showing(app)]


def name(node):
    for relation in node.get_relation_set() if node.get_role_name() == "combo box" else []:
        if relation.get_relation_type() == Atspi.RelationType.LABELLED_BY:
            return relation.get_target(0).get_name()  # a picker's own name is its value
    return node.get_name()


def wait_for(what, find, seconds=20):
    for _ in range(seconds * 5):
        try:
            found = find()
        except (GLib.Error, AttributeError):  # an object went away while the screen changed
            found = None
        if found:
            return found
        time.sleep(0.2)
    sys.exit("FAIL: timed out waiting for " + what)


def control(wanted):
    return wait_for(wanted, lambda: next((n for n in tree() if n.get_role_name() in CONTROLS and
                                          name(n) == wanted), None))


def check(condition, message):
    if not condition:
        sys.exit("FAIL: " + message)


def focused():
    return next((name(n) for n in tree() if n.get_state_set().contains(Atspi.StateType.FOCUSED)), None)


def meters():
    found = {n.get_name(): n for n in tree() if n.get_name() in ("System audio level", "Microphone level")}
    check(len(found) == 2 and all(m.get_role_name() == "progress bar" and "Value" in m.get_interfaces() and
                                  (m.get_minimum_value(), m.get_maximum_value()) == (0, 100) and
                                  not m.get_state_set().contains(Atspi.StateType.EDITABLE)
                                  for m in found.values()), "meters are not read-only progress bars from 0 to 100")
    return [meter.get_current_value() for meter in found.values()]


def unnamed():
    return [n.get_role_name() for n in tree() if n.get_role_name() in CONTROLS and not name(n)]


control("Email").set_text_contents(sys.argv[1])
control("Password").set_text_contents(sys.argv[2])
check(not unnamed(), f"sign-in controls without a name: {unnamed()}")
control("Sign in").do_action(0)
wait_for("the first control to have focus", lambda: focused() == "System audio source")
check(not unnamed(), f"main screen controls without a name: {unnamed()}")
visited = [focused()]
while len(visited) <= len(READING_ORDER):
    subprocess.run(["xdotool", "key", "Tab"], check=True)
    wait_for("focus to move on", lambda: focused() not in (None, visited[-1]), 5)
    if focused() == visited[0]:
        break
    visited.append(focused())
start = READING_ORDER.index("System audio source")
check(visited == READING_ORDER[start:] + READING_ORDER[:start], f"Tab visited {visited}")
control("Record").do_action(0)
wait_for("the system meter to rise", lambda: meters()[0] > 0)
control("Stop").do_action(0)
wait_for("the meters to fall to zero", lambda: meters() == [0, 0])
print("accessibility walk: names, focus, Tab order and meter values as expected")
