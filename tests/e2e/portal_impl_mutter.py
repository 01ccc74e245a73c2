#!/usr/bin/python3
"""The suite's implementation of the remote-desktop portal for the real xdg-desktop-portal
frontend: it grants every request at once (where the desktop's own would show a dialog) and
forwards the session to mutter's org.gnome.Mutter.RemoteDesktop, as GNOME's implementation
does: a session's Close stops mutter's session, which lets go of its keys.

A headless mutter has no input device, so its seat has no keyboard for a client to bind; at
start this makes one remote-desktop session of its own and keeps it, as a desktop keeps its
physical keyboard. Writes one line per event to the log named by its argument.
"""

import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

IMPL = "org.freedesktop.impl.portal.RemoteDesktop"
SESSION = "org.freedesktop.impl.portal.Session"
MUTTER = "org.gnome.Mutter.RemoteDesktop"
NAME = "org.freedesktop.impl.portal.desktop.camsteertest"


def mutter_session(bus):
    remote = dbus.Interface(bus.get_object(MUTTER, "/org/gnome/Mutter/RemoteDesktop"), MUTTER)
    path = remote.CreateSession()
    return dbus.Interface(bus.get_object(MUTTER, path), MUTTER + ".Session")


class Session(dbus.service.Object):
    def __init__(self, impl, path):
        super().__init__(impl.bus, path)
        self.impl, self.mutter = impl, mutter_session(impl.bus)

    @dbus.service.method(SESSION)
    def Close(self):
        self.mutter.Stop()
        self.impl.note("Close")
        self.remove_from_connection()

    @dbus.service.signal(SESSION)
    def Closed(self):
        pass


class Impl(dbus.service.Object):
    def __init__(self, bus, log):
        super().__init__(bus, "/org/freedesktop/portal/desktop")
        self.bus, self.log, self.sessions = bus, open(log, "a", buffering=1), {}

    def note(self, line):
        self.log.write(line + "\n")

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {"version": dbus.UInt32(1), "AvailableDeviceTypes": dbus.UInt32(3)}

    @dbus.service.method(IMPL, in_signature="oosa{sv}", out_signature="ua{sv}")
    def CreateSession(self, handle, session, app_id, options):
        self.note("CreateSession")
        self.sessions[session] = Session(self, session)
        return dbus.UInt32(0), dbus.Dictionary({}, signature="sv")

    @dbus.service.method(IMPL, in_signature="oosa{sv}", out_signature="ua{sv}")
    def SelectDevices(self, handle, session, app_id, options):
        self.note("SelectDevices types=%d" % options.get("types", 0))
        return dbus.UInt32(0), dbus.Dictionary({}, signature="sv")

    @dbus.service.method(IMPL, in_signature="oossa{sv}", out_signature="ua{sv}")
    def Start(self, handle, session, app_id, parent, options):
        self.sessions[session].mutter.Start()
        self.note("Start")
        return dbus.UInt32(0), dbus.Dictionary({"devices": dbus.UInt32(1)}, signature="sv")

    @dbus.service.method(IMPL, in_signature="oa{sv}iu")
    def NotifyKeyboardKeycode(self, session, options, keycode, state):
        self.note("Key %d %d" % (keycode, state))
        self.sessions[session].mutter.NotifyKeyboardKeycode(dbus.UInt32(keycode),
                                                            dbus.Boolean(state == 1))


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    impl = Impl(bus, sys.argv[1])
    seat = mutter_session(bus)
    seat.Start()
    name = dbus.service.BusName(NAME, bus, do_not_queue=True)
    impl.note("Ready")
    GLib.MainLoop().run()
    del name, seat


if __name__ == "__main__":
    main()
