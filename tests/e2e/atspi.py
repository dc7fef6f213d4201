#!/usr/bin/python3
"""Reads and drives the running Qt programs through the accessibility bus (AT-SPI), as a screen
reader does; works on any display, Wayland included.
  atspi.py find ROLE NAME    prints "path enabled" for each match; status 1 when none
  atspi.py press ROLE NAME   presses the first enabled match; status 1 when none
  atspi.py names ROLE        prints the names of all objects with that role
ROLE is an AT-SPI role name ("push button", "label", "alert"...); NAME is matched exactly."""
import sys

import dbus

STATE_ENABLED = 8  # AT-SPI state bit


def a11y_bus():
    session = dbus.SessionBus()
    address = session.get_object("org.a11y.Bus", "/org/a11y/bus").GetAddress(
        dbus_interface="org.a11y.Bus")
    return dbus.bus.BusConnection(address)


def walk(bus, name, path, depth=0):
    obj = bus.get_object(name, path)
    acc = dbus.Interface(obj, "org.a11y.atspi.Accessible")
    props = dbus.Interface(obj, "org.freedesktop.DBus.Properties")
    yield obj, str(acc.GetRoleName()), str(props.Get("org.a11y.atspi.Accessible", "Name"))
    if depth > 12:
        return
    for child_name, child_path in acc.GetChildren():
        try:
            yield from walk(bus, child_name, child_path, depth + 1)
        except dbus.DBusException:
            continue  # went away while we looked


def enabled(obj):
    states = obj.GetState(dbus_interface="org.a11y.atspi.Accessible")
    return bool(states[0] & (1 << STATE_ENABLED))


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    bus = a11y_bus()
    every = list(walk(bus, "org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root"))
    command, role = argv[0], argv[1]
    if command == "names":
        for _, r, n in every:
            if r == role:
                print(n)
        return 0
    name = argv[2]
    matches = [obj for obj, r, n in every if r == role and n == name]
    if command == "find":
        for obj in matches:
            print(obj.object_path, "enabled" if enabled(obj) else "disabled")
        return 0 if matches else 1
    if command == "press":
        for obj in matches:
            if enabled(obj):
                obj.DoAction(0, dbus_interface="org.a11y.atspi.Action")
                return 0
        return 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except dbus.DBusException as error:
        print(error, file=sys.stderr)
        sys.exit(1)
