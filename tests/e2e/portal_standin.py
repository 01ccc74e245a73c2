#!/usr/bin/python3
"""A stand-in for the desktop's remote-desktop portal on a private session bus.

It answers as xdg-desktop-portal does (a Request object per call, its Response signal after the
reply) and writes one line per event to the log:

    CreateSession handle_token=s:... session_handle_token=s:...
    SelectDevices handle_token=s:... persist_mode=u:2 restore_token=s:... types=u:1
    Start handle_token=s:...
    Answer Start 0 RESTORE-TOKEN    (when the user has answered)
    Key 103 1
    Closed Close | Closed vanished

Keys go on into an X display through XTest, as the desktop puts them into its seat; like the
desktop, it releases a session's keys when the session closes (by Close, or when the program's
bus connection goes).
"""

import argparse
import ctypes
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

PORTAL = "org.freedesktop.portal.Desktop"
PATH = "/org/freedesktop/portal/desktop"
REMOTE = "org.freedesktop.portal.RemoteDesktop"
REQUEST = "org.freedesktop.portal.Request"
SESSION = "org.freedesktop.portal.Session"


def typed(value):
    for kind, code in ((dbus.ObjectPath, "o"), (dbus.String, "s"), (dbus.Boolean, "b"),
                       (dbus.UInt32, "u"), (dbus.Int32, "i")):
        if isinstance(value, kind):
            return "%s:%s" % (code, value)
    return "?:%s" % value


class Seat:
    """Presses and releases X keys by evdev code (the X keycode is the evdev code plus 8)."""

    def __init__(self, display):
        self.x11 = ctypes.CDLL("libX11.so.6")
        self.xtst = ctypes.CDLL("libXtst.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XFlush.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                                ctypes.c_ulong]
        self.dpy = self.x11.XOpenDisplay(display.encode())
        if not self.dpy:
            sys.exit("portal stand-in: cannot open display %s" % display)

    def key(self, code, down):
        self.xtst.XTestFakeKeyEvent(self.dpy, code + 8, 1 if down else 0, 0)
        self.x11.XFlush(self.dpy)


class Request(dbus.service.Object):
    @dbus.service.method(REQUEST)
    def Close(self):
        self.remove_from_connection()

    @dbus.service.signal(REQUEST, signature="ua{sv}")
    def Response(self, response, results):
        pass


class Session(dbus.service.Object):
    def __init__(self, portal, path, sender):
        super().__init__(portal.bus, path)
        self.portal, self.path, self.sender, self.down = portal, path, sender, set()

    @dbus.service.method(SESSION)
    def Close(self):
        self.portal.close(self, "Close")

    @dbus.service.signal(SESSION, signature="a{sv}")
    def Closed(self, details):
        pass


class Portal(dbus.service.Object):
    def __init__(self, bus, args):
        super().__init__(bus, PATH)
        self.bus, self.args, self.sessions, self.tokens = bus, args, {}, 0
        self.seat = Seat(args.display) if args.display else None
        self.log = open(args.log, "a", buffering=1)
        bus.add_signal_receiver(self.owner_changed, "NameOwnerChanged", "org.freedesktop.DBus")

    def note(self, line):
        self.log.write(line + "\n")

    def answer(self, sender, options, response, results, delay=0.0, note=None):
        path = "%s/request/%s/%s" % (PATH, sender[1:].replace(".", "_"),
                                     options.get("handle_token", "t"))
        request = Request(self.bus, path)

        def respond():
            if note:
                self.note(note)
            request.Response(dbus.UInt32(response), dbus.Dictionary(results, signature="sv"))
            request.remove_from_connection()
            return False
        GLib.timeout_add(int(delay * 1000), respond)
        return dbus.ObjectPath(path)

    def called(self, method, options):
        self.note(" ".join([method] + ["%s=%s" % (k, typed(v)) for k, v in sorted(options.items())]))

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {"version": dbus.UInt32(self.args.version),
                "AvailableDeviceTypes": dbus.UInt32(7)}

    @dbus.service.method(REMOTE, in_signature="a{sv}", out_signature="o", sender_keyword="sender")
    def CreateSession(self, options, sender):
        self.called("CreateSession", options)
        path = "%s/session/%s/%s" % (PATH, sender[1:].replace(".", "_"),
                                     options["session_handle_token"])
        self.sessions[path] = Session(self, path, sender)
        return self.answer(sender, options, 0, {"session_handle": dbus.String(path)})

    @dbus.service.method(REMOTE, in_signature="oa{sv}", out_signature="o", sender_keyword="sender")
    def SelectDevices(self, session, options, sender):
        self.called("SelectDevices", options)
        self.sessions[session].token = str(options.get("restore_token", ""))
        return self.answer(sender, options, 0, {})

    @dbus.service.method(REMOTE, in_signature="osa{sv}", out_signature="o",
                         sender_keyword="sender")
    def Start(self, session, parent, options, sender):
        self.called("Start", options)
        stale = self.sessions[session].token and self.args.answer == "stale-token"
        response = 1 if self.args.answer == "refuse" else 2 if stale else 0
        results = {"devices": dbus.UInt32(1)} if response == 0 else {}
        if response == 0 and self.args.version >= 2:
            self.tokens += 1
            results["restore_token"] = dbus.String("standin-token-%d" % self.tokens)
        note = "Answer Start %d %s" % (response, results.get("restore_token", ""))
        return self.answer(sender, options, response, results, self.args.delay, note.strip())

    @dbus.service.method(REMOTE, in_signature="oa{sv}iu")
    def NotifyKeyboardKeycode(self, session, options, keycode, state):
        self.note("Key %d %d" % (keycode, state))
        self.press(self.sessions.get(session), keycode, state == 1)

    def press(self, session, code, down):
        if session is None:
            return
        (session.down.add if down else session.down.discard)(code)
        if self.seat:
            self.seat.key(code, down)

    def close(self, session, how):
        self.note("Closed " + how)
        for code in sorted(session.down):
            self.press(session, code, False)
        self.sessions.pop(session.path, None)
        session.remove_from_connection()

    def owner_changed(self, name, old, new):
        if name.startswith(":") and not new:
            for session in [s for s in self.sessions.values() if s.sender == name]:
                self.close(session, "vanished")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--log", required=True)
    parser.add_argument("--version", type=int, default=2)
    parser.add_argument("--answer", choices=["grant", "refuse", "stale-token"], default="grant")
    parser.add_argument("--delay", type=float, default=0.0, help="seconds the user takes")
    parser.add_argument("--display", help="the X display that receives the keys")
    args = parser.parse_args()
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    portal = Portal(bus, args)
    name = dbus.service.BusName(PORTAL, bus, do_not_queue=True)
    portal.note("Ready")
    GLib.MainLoop().run()
    del name


if __name__ == "__main__":
    main()
