#!/usr/bin/python3
"""The StatusNotifierItem side of a tray host, for the end-to-end tests.

watch                      own org.kde.StatusNotifierWatcher, say that a host is registered,
                           and print "registered BUS-NAME OBJECT-PATH" for each item
activate BUS X Y           what a host sends on a left click
activate-twice BUS X Y     a double click, as hosts that forward both clicks send it
context-menu BUS X Y       what a host without menu support sends on a right click
menu BUS                   print the exported menu: one "LABEL<TAB>SHORTCUT" line per item
menu-click BUS LABEL       choose the item so labelled in the exported menu
"""
import sys

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

WATCHER = "org.kde.StatusNotifierWatcher"
WATCHER_PATH = "/StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
ITEM_PATH = "/StatusNotifierItem"
MENU = "com.canonical.dbusmenu"
TIMEOUT_MS = 5000

# The properties are declared here: Qt reads them through QDBusInterface, which knows only
# what the introspection data lists.
WATCHER_XML = f"""
<node>
  <interface name="{WATCHER}">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
    <signal name="StatusNotifierHostUnregistered"/>
  </interface>
</node>
"""


def watch():
    bus = Gio.bus_get_sync(Gio.BusType.SESSION)
    items = []

    def on_call(connection, sender, path, interface, method, params, invocation):
        if method == "RegisterStatusNotifierItem":
            (service,) = params.unpack()
            # An item names either its bus name, or only its path on the caller's connection.
            name, item_path = (sender, service) if service.startswith("/") else (service, ITEM_PATH)
            items.append(f"{name}{item_path}")
            print(f"registered {name} {item_path}", flush=True)
            connection.emit_signal(None, WATCHER_PATH, WATCHER, "StatusNotifierItemRegistered",
                                   GLib.Variant("(s)", (items[-1],)))
        invocation.return_value(None)

    def on_get(connection, sender, path, interface, name):
        return {
            "RegisteredStatusNotifierItems": GLib.Variant("as", items),
            "IsStatusNotifierHostRegistered": GLib.Variant("b", True),
            "ProtocolVersion": GLib.Variant("i", 0),
        }[name]

    node = Gio.DBusNodeInfo.new_for_xml(WATCHER_XML)
    bus.register_object(WATCHER_PATH, node.interfaces[0], on_call, on_get, None)
    # Owned only after the object is there, so that no one finds the name without it.
    owned = call(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
                 GLib.Variant("(su)", (WATCHER, 4)), "(u)").unpack()[0]  # 4: do not queue
    if owned != 1:
        sys.exit(f"sni.py: {WATCHER} is taken (answer {owned})")
    print("watcher ready", flush=True)
    bus.emit_signal(None, WATCHER_PATH, WATCHER, "StatusNotifierHostRegistered", None)
    loop = GLib.MainLoop()
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, 15, loop.quit)
    loop.run()


def call(bus, name, path, interface, method, args, reply=None):
    return bus.call_sync(name, path, interface, method, args, reply and GLib.VariantType(reply),
                         Gio.DBusCallFlags.NONE, TIMEOUT_MS, None)


def menu_path(bus, name):
    value = call(bus, name, ITEM_PATH, "org.freedesktop.DBus.Properties", "Get",
                 GLib.Variant("(ss)", (ITEM, "Menu")), "(v)").unpack()[0]
    return value


def menu_items(bus, name):
    """Every item of the exported menu as (id, label, shortcut), depth first."""
    layout = call(bus, name, menu_path(bus, name), MENU, "GetLayout",
                  GLib.Variant("(iias)", (0, -1, [])), "(u(ia{sv}av))").unpack()[1]
    found = []

    def walk(node):
        item_id, properties, children = node
        if "label" in properties:
            label = properties["label"].replace("&", "").replace("_", "")
            found.append((item_id, label, properties.get("shortcut")))
        for child in children:
            walk(child)

    walk(layout)
    return found


def main(argv):
    if len(argv) < 2:
        sys.exit(__doc__)
    command, args = argv[1], argv[2:]
    if command == "watch":
        watch()
        return
    bus = Gio.bus_get_sync(Gio.BusType.SESSION)
    name = args[0]
    if command in ("activate", "activate-twice", "context-menu"):
        method = "ContextMenu" if command == "context-menu" else "Activate"
        position = GLib.Variant("(ii)", (int(args[1]), int(args[2])))
        for _ in range(2 if command == "activate-twice" else 1):
            call(bus, name, ITEM_PATH, ITEM, method, position)
    elif command == "menu":
        for _, label, shortcut in menu_items(bus, name):
            print(f"{label}\t{shortcut or ''}")
    elif command == "menu-click":
        ids = [item_id for item_id, label, _ in menu_items(bus, name) if label == args[1]]
        if not ids:
            sys.exit(f"sni.py: no menu item labelled {args[1]!r}")
        call(bus, name, menu_path(bus, name), MENU, "Event",
             GLib.Variant("(isvu)", (ids[0], "clicked", GLib.Variant("i", 0), 0)))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv)
