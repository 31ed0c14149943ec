"""Reads a window of a running program through the accessibility bus (AT-SPI), as a screen
reader does: prints the lines of the window's labels in tree order.

  atspi_texts.py PROGRAM TITLE [TIMEOUT_SECONDS]
  atspi_texts.py --start-bus

Waits until PROGRAM has a top-level window named TITLE that shows at least one label.
Exit 0 when found, 1 on timeout."""
import sys
import time

import dbus

ROLE_LABEL = 29
ACCESSIBLE = "org.a11y.atspi.Accessible"


def a11y_bus():
    session = dbus.SessionBus()
    bus = session.get_object("org.a11y.Bus", "/org/a11y/bus")
    address = dbus.Interface(bus, "org.a11y.Bus").GetAddress()
    return dbus.bus.BusConnection(address)


class Node:
    def __init__(self, bus, name, path):
        self.obj = bus.get_object(name, path, introspect=False)
        self.bus = bus

    def prop(self, key):
        return self.obj.Get(ACCESSIBLE, key, dbus_interface="org.freedesktop.DBus.Properties")

    def name(self):
        return str(self.prop("Name"))

    def role(self):
        return int(self.obj.GetRole(dbus_interface=ACCESSIBLE))

    def children(self):
        return [Node(self.bus, n, p) for n, p in self.obj.GetChildren(dbus_interface=ACCESSIBLE)]


def labels(node, depth=0):
    found = []
    if depth > 12:
        return found
    for child in node.children():
        if child.role() == ROLE_LABEL:
            found.extend(line.rstrip("\r") for line in child.name().split("\n"))
        found.extend(labels(child, depth + 1))
    return found


def find(bus, program, title):
    root = Node(bus, "org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root")
    for app in root.children():
        try:
            if app.name() != program:
                continue
            for window in app.children():
                if window.name() == title:
                    texts = [t for t in labels(window) if t]
                    if texts:
                        return texts
        except dbus.exceptions.DBusException:
            continue  # a program or window that went away meanwhile
    return None


def main():
    if len(sys.argv) == 2 and sys.argv[1] == "--start-bus":
        a11y_bus()  # started before the program, which then joins it at once
        return 0
    program, title = sys.argv[1], sys.argv[2]
    timeout = float(sys.argv[3]) if len(sys.argv) > 3 else 20.0
    deadline = time.monotonic() + timeout
    while True:
        try:
            texts = find(a11y_bus(), program, title)
        except dbus.exceptions.DBusException:
            texts = None
        if texts is not None:
            print("\n".join(texts))
            return 0
        if time.monotonic() > deadline:
            print("no window %r of %r on the accessibility bus" % (title, program), file=sys.stderr)
            return 1
        time.sleep(0.2)


if __name__ == "__main__":
    sys.exit(main())
