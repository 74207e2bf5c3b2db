#!/usr/bin/python3
"""A stand-in for the desktop portal's GlobalShortcuts on the session bus: answers CreateSession
and BindShortcuts through Request objects as the portal does, prints "bound SESSION ID
description=... trigger=..." for each shortcut bound, and emits Activated for them on SIGUSR1."""
import signal

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

NAME, PATH, IFACE = "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", \
    "org.freedesktop.portal.GlobalShortcuts"
XML = f"""<node><interface name="{IFACE}">
  <method name="CreateSession"><arg type="a{{sv}}" direction="in"/><arg type="o" direction="out"/></method>
  <method name="BindShortcuts"><arg type="o" direction="in"/><arg type="a(sa{{sv}})" direction="in"/>
    <arg type="s" direction="in"/><arg type="a{{sv}}" direction="in"/><arg type="o" direction="out"/></method>
  <signal name="Activated"><arg type="o"/><arg type="s"/><arg type="t"/><arg type="a{{sv}}"/></signal>
</interface></node>"""
bus = Gio.bus_get_sync(Gio.BusType.SESSION)
bound = []


def handle(sender, kind, token):
    return f"{PATH}/{kind}/{sender[1:].replace('.', '_')}/{token}"


def reply_then_respond(invocation, sender, token, results):
    """Replies with the Request's path, then answers on it, as the portal does once the user chose."""
    request = handle(sender, "request", token)
    invocation.return_value(GLib.Variant("(o)", (request,)))
    GLib.idle_add(lambda: bus.emit_signal(sender, request, "org.freedesktop.portal.Request", "Response",
                                          GLib.Variant("(ua{sv})", (0, results))) and False)


def on_call(connection, sender, path, interface, method, params, invocation):
    if method == "CreateSession":
        (options,) = params.unpack()
        session = handle(sender, "session", options["session_handle_token"])
        reply_then_respond(invocation, sender, options["handle_token"], {"session_handle": GLib.Variant("s", session)})
        return
    session, shortcuts, _, options = params.unpack()
    for shortcut_id, properties in shortcuts:
        bound.append((session, shortcut_id))
        print(f"bound {session} {shortcut_id} description={properties.get('description')} "
              f"trigger={properties.get('preferred_trigger', '')}", flush=True)
    reply_then_respond(invocation, sender, options["handle_token"], {})


def activate():
    for session, shortcut_id in bound:
        bus.emit_signal(None, PATH, IFACE, "Activated", GLib.Variant("(osta{sv})", (session, shortcut_id, 0, {})))
    return True


bus.register_object(PATH, Gio.DBusNodeInfo.new_for_xml(XML).interfaces[0], on_call, None, None)
bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
              GLib.Variant("(su)", (NAME, 4)), None, Gio.DBusCallFlags.NONE, 5000, None)
print("portal ready", flush=True)
loop = GLib.MainLoop()
GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR1, activate)
GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)
loop.run()
