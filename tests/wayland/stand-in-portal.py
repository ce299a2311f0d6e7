#!/usr/bin/python3
"""A stand-in portal backend for the Wayland tests: org.freedesktop.impl.portal.ScreenCast and
org.freedesktop.impl.portal.RemoteDesktop on a private session bus, behind the desktop's real portal
(xdg-desktop-portal), which the client talks to. Each started share is a PipeWire node fed by
pipewire-test-producer (a coloured, moving picture: the screen, a window or a virtual screen, each of its
own colour). Instead of asking a person, it writes "question" lines; restore data that the portal hands
back (from a restore token it gave the client) spares the question, as a desktop's backend does. Every
call is written to the log, one line each, so tests can check what the client asked.

    stand-in-portal.py --producer PATH --log FILE [--source-types N] [--cursor-modes N]
                       [--screen-size WxH] [--fps N]
"""

import argparse
import subprocess
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NAME = "org.freedesktop.impl.portal.desktop.pelkortest"
OBJECT = "/org/freedesktop/portal/desktop"
SCREEN_CAST = "org.freedesktop.impl.portal.ScreenCast"
REMOTE_DESKTOP = "org.freedesktop.impl.portal.RemoteDesktop"
VENDOR = "pelkortest"

# The colour each kind of source shows: the screen, a window, a virtual screen. A window is 640x480,
# the screens as large as the compositor's output.
COLOURS = {1: "2080c0", 2: "c04020", 4: "30a050"}
WINDOW_SIZE = (640, 480)


class Session(dbus.service.Object):
    def __init__(self, backend, path, kind):
        super().__init__(backend.bus, path)
        self.backend = backend
        self.path = path
        self.kind = kind
        self.types = 1
        self.restored = False
        self.persist = 0
        self.devices = 0
        self.producers = []

    @dbus.service.method("org.freedesktop.impl.portal.Session", in_signature="", out_signature="")
    def Close(self):
        self.backend.log("call Session.Close %s" % self.kind)
        self.end()

    def end(self):
        for producer in self.producers:
            producer.terminate()
            producer.wait()
        self.producers = []
        if self.path in self.backend.sessions:
            del self.backend.sessions[self.path]
            self.remove_from_connection()

    def start_streams(self):
        """One source of the first type asked: the client asks for one at a time."""
        for source_type in (1, 2, 4):
            if not self.types & source_type:
                continue
            width, height = WINDOW_SIZE if source_type == 2 else self.backend.screen_size
            producer = subprocess.Popen(
                [self.backend.producer, "--size", "%dx%d" % (width, height), "--colour", COLOURS[source_type],
                 "--fps", str(self.backend.fps)],
                stdout=subprocess.PIPE, text=True)
            self.producers.append(producer)
            line = producer.stdout.readline().split()
            if len(line) != 2 or line[0] != "node":
                raise RuntimeError("the producer gave no node")
            props = {"size": dbus.Struct((dbus.Int32(width), dbus.Int32(height)), signature="ii"),
                     "position": dbus.Struct((dbus.Int32(0), dbus.Int32(0)), signature="ii"),
                     "source_type": dbus.UInt32(source_type)}
            return [dbus.Struct((dbus.UInt32(int(line[1])), dbus.Dictionary(props, signature="sv")),
                                signature="ua{sv}")]
        return []


def answer(code, results=None):
    return dbus.UInt32(code), dbus.Dictionary(results or {}, signature="sv")


class RemoteDesktopMethods(dbus.service.Object):
    """The remote-desktop backend's methods, whose names the screen-cast backend shares: D-Bus finds each
    by its interface along the class hierarchy."""

    @dbus.service.method(REMOTE_DESKTOP, in_signature="oosa{sv}", out_signature="ua{sv}")
    def CreateSession(self, handle, session_handle, app_id, options):
        return self.create_session("RemoteDesktop", session_handle)

    @dbus.service.method(REMOTE_DESKTOP, in_signature="oosa{sv}", out_signature="ua{sv}")
    def SelectDevices(self, handle, session_handle, app_id, options):
        session = self.sessions.get(str(session_handle))
        if session is None:
            return answer(2)
        self.take_restore_data(session, options)
        session.devices = int(options.get("types", 3))
        self.log("call RemoteDesktop.SelectDevices types=%d persist_mode=%d restore_data=%s"
                 % (session.devices, session.persist, "yes" if session.restored else "no"))
        return answer(0)

    @dbus.service.method(REMOTE_DESKTOP, in_signature="oossa{sv}", out_signature="ua{sv}")
    def Start(self, handle, session_handle, app_id, parent_window, options):
        return self.start("RemoteDesktop", session_handle)

    @dbus.service.method(REMOTE_DESKTOP, in_signature="oa{sv}udd")
    def NotifyPointerMotionAbsolute(self, session_handle, options, stream, x, y):
        self.log("call RemoteDesktop.NotifyPointerMotionAbsolute stream=%d x=%.0f y=%.0f" % (stream, x, y))

    @dbus.service.method(REMOTE_DESKTOP, in_signature="oa{sv}iu")
    def NotifyPointerButton(self, session_handle, options, button, state):
        self.log("call RemoteDesktop.NotifyPointerButton button=%d state=%d" % (button, state))

    @dbus.service.method(REMOTE_DESKTOP, in_signature="oa{sv}iu")
    def NotifyKeyboardKeycode(self, session_handle, options, keycode, state):
        self.log("call RemoteDesktop.NotifyKeyboardKeycode keycode=%d state=%d" % (keycode, state))


class Backend(RemoteDesktopMethods):
    def __init__(self, bus, args):
        super().__init__(bus, OBJECT)
        self.bus = bus
        self.producer = args.producer
        self.log_file = open(args.log, "a", buffering=1)
        self.source_types = args.source_types
        self.cursor_modes = args.cursor_modes
        self.screen_size = tuple(int(side) for side in args.screen_size.split("x"))
        self.fps = args.fps
        self.sessions = {}

    def log(self, line):
        self.log_file.write(line + "\n")

    def create_session(self, kind, session_handle):
        self.log("call %s.CreateSession" % kind)
        self.sessions[str(session_handle)] = Session(self, str(session_handle), kind)
        return answer(0)

    def take_restore_data(self, session, options):
        data = options.get("restore_data")
        session.restored = data is not None and str(data[0]) == VENDOR
        session.persist = int(options.get("persist_mode", 0))

    def start(self, kind, session_handle):
        session = self.sessions.get(str(session_handle))
        if session is None:
            return answer(2)
        self.log("%s %s types=%d" % ("restored" if session.restored else "question", kind, session.types))
        results = {"streams": dbus.Array(session.start_streams(), signature="(ua{sv})")}
        if kind == "RemoteDesktop":
            results["devices"] = dbus.UInt32(session.devices)
        if session.persist:
            results["persist_mode"] = dbus.UInt32(session.persist)
            results["restore_data"] = dbus.Struct((VENDOR, dbus.UInt32(1), dbus.String(kind, variant_level=1)),
                                                  signature="suv")
        self.log("started %s streams=%d" % (kind, len(results["streams"])))
        return answer(0, results)

    @dbus.service.method(SCREEN_CAST, in_signature="oosa{sv}", out_signature="ua{sv}")
    def CreateSession(self, handle, session_handle, app_id, options):
        return self.create_session("ScreenCast", session_handle)

    @dbus.service.method(SCREEN_CAST, in_signature="oosa{sv}", out_signature="ua{sv}")
    def SelectSources(self, handle, session_handle, app_id, options):
        session = self.sessions.get(str(session_handle))
        if session is None:
            return answer(2)
        # A remote-desktop session's restore data came with its devices.
        if session.kind == "ScreenCast":
            self.take_restore_data(session, options)
        session.types = int(options.get("types", 1))
        self.log("call ScreenCast.SelectSources types=%d cursor_mode=%d persist_mode=%d restore_data=%s"
                 % (session.types, int(options.get("cursor_mode", 0)), int(options.get("persist_mode", 0)),
                    "yes" if "restore_data" in options else "no"))
        return answer(0)

    @dbus.service.method(SCREEN_CAST, in_signature="oossa{sv}", out_signature="ua{sv}")
    def Start(self, handle, session_handle, app_id, parent_window, options):
        return self.start("ScreenCast", session_handle)

    def properties(self, interface):
        if interface == SCREEN_CAST:
            return {"version": dbus.UInt32(4), "AvailableSourceTypes": dbus.UInt32(self.source_types),
                    "AvailableCursorModes": dbus.UInt32(self.cursor_modes)}
        if interface == REMOTE_DESKTOP:
            return {"version": dbus.UInt32(2), "AvailableDeviceTypes": dbus.UInt32(3)}
        return {}

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        value = self.properties(interface).get(name)
        if value is None:
            raise dbus.exceptions.DBusException("no such property", name="org.freedesktop.DBus.Error.UnknownProperty")
        return value

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return self.properties(interface)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--producer", required=True)
    parser.add_argument("--log", required=True)
    parser.add_argument("--source-types", type=int, default=3)
    parser.add_argument("--cursor-modes", type=int, default=3)
    parser.add_argument("--screen-size", default="1280x720")
    parser.add_argument("--fps", type=int, default=30)
    args = parser.parse_args()
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    backend = Backend(bus, args)
    name = dbus.service.BusName(NAME, bus)
    loop = GLib.MainLoop()
    for signal in (15, 2):
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal, loop.quit)
    backend.log("ready")
    loop.run()
    for session in list(backend.sessions.values()):
        session.end()
    del name


if __name__ == "__main__":
    sys.exit(main())
