#!/usr/bin/python3
# A recording notification server for the agent's tests, on the session bus given in the
# environment. Usage: notification_server.py LOG
# Each Notify appends "<id>\t<app>\t<summary>\t<body>\t<actions>" to LOG. The test clicks a
# notification by calling org.telvo.TestControl.Invoke(id, action) on the same object, which
# emits ActionInvoked. Prints "ready" once it owns its name.
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

log = sys.argv[1]


class Server(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.next_id = 1

    @dbus.service.method("org.freedesktop.Notifications", in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        nid = self.next_id
        self.next_id += 1
        with open(log, "a") as f:
            f.write("%d\t%s\t%s\t%s\t%s\n" % (nid, app, summary, body, ",".join(actions)))
        return nid

    @dbus.service.method("org.freedesktop.Notifications", out_signature="as")
    def GetCapabilities(self):
        return ["actions", "body"]

    @dbus.service.signal("org.freedesktop.Notifications", signature="us")
    def ActionInvoked(self, nid, action):
        pass

    @dbus.service.method("org.telvo.TestControl", in_signature="us")
    def Invoke(self, nid, action):
        self.ActionInvoked(nid, action)


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
name = dbus.service.BusName("org.freedesktop.Notifications", bus)
server = Server(bus)
print("ready", flush=True)
GLib.MainLoop().run()
