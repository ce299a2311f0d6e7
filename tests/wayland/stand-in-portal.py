#!/usr/bin/python3
"""A stand-in desktop portal for the Wayland tests: org.freedesktop.portal.Desktop on a private session
bus, with the ScreenCast and RemoteDesktop interfaces as a desktop serves them. Each started share is a
PipeWire node fed by pipewire-test-producer (a coloured, moving picture: the screen, a window or a
virtual screen, each of its own colour and size). Instead of asking a person, it writes "question"
lines; a valid restore token spares the question, as the real portal does. Every call is written to
the log, one line each, so tests can check what the client asked.

    stand-in-portal.py --producer PATH --log FILE [--source-types N] [--cursor-modes N] [--screen-size WxH] [--fps N]
"""

import argparse
import os
import socket
import subprocess
import sys
import uuid

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

OBJECT = "/org/freedesktop/portal/desktop"
SCREEN_CAST = "org.freedesktop.portal.ScreenCast"
REMOTE_DESKTOP = "org.freedesktop.portal.RemoteDesktop"

# The colour each kind of source shows: the screen, a window, a virtual screen. A window is 640x480,
# the screens as large as the compositor's output.
COLOURS = {1: "2080c0", 2: "c04020", 4: "30a050"}
WINDOW_SIZE = (640, 480)


class Session(dbus.service.Object):
    def __init__(self, portal, path, kind):
        super().__init__(portal.bus, path)
        self.portal = portal
        self.path = path
        self.kind = kind
        self.types = 1
        self.restored = False
        self.persist = 0
        self.devices = 0
        self.producers = []

    @dbus.service.method("org.freedesktop.portal.Session", in_signature="", out_signature="")
    def Close(self):
        self.portal.log("call Session.Close %s" % self.kind)
        self.end()

    def end(self):
        for producer in self.producers:
            producer.terminate()
            producer.wait()
        self.producers = []
        if self.path in self.portal.sessions:
            del self.portal.sessions[self.path]
            self.remove_from_connection()

    def start_streams(self):
        streams = []
        for source_type in (1, 2, 4):
            if self.types & source_type:
                width, height = WINDOW_SIZE if source_type == 2 else self.portal.screen_size
                producer = subprocess.Popen(
                    [self.portal.producer, "--size", "%dx%d" % (width, height), "--colour", COLOURS[source_type],
                     "--fps", str(self.portal.fps)],
                    stdout=subprocess.PIPE, text=True)
                self.producers.append(producer)
                line = producer.stdout.readline().split()
                if len(line) != 2 or line[0] != "node":
                    raise RuntimeError("the producer gave no node")
                props = {"size": dbus.Struct((dbus.Int32(width), dbus.Int32(height)), signature="ii"),
                         "position": dbus.Struct((dbus.Int32(0), dbus.Int32(0)), signature="ii"),
                         "source_type": dbus.UInt32(source_type)}
                streams.append(dbus.Struct((dbus.UInt32(int(line[1])), dbus.Dictionary(props, signature="sv")),
                                           signature="ua{sv}"))
                break  # one source: the client asks for one at a time
        return streams


class Request(dbus.service.Object):
    def __init__(self, bus, path):
        super().__init__(bus, path)

    @dbus.service.signal("org.freedesktop.portal.Request", signature="ua{sv}")
    def Response(self, code, results):
        pass

    @dbus.service.method("org.freedesktop.portal.Request", in_signature="", out_signature="")
    def Close(self):
        self.remove_from_connection()


class RemoteDesktopMethods(dbus.service.Object):
    """The remote-desktop interface's methods, whose names the screen-cast interface shares: D-Bus finds
    each by its interface along the class hierarchy."""

    @dbus.service.method(REMOTE_DESKTOP, in_signature="a{sv}", out_signature="o", sender_keyword="sender")
    def CreateSession(self, options, sender=None):
        return self.create_session("RemoteDesktop", options, sender)

    @dbus.service.method(REMOTE_DESKTOP, in_signature="osa{sv}", out_signature="o", sender_keyword="sender")
    def Start(self, session_path, parent_window, options, sender=None):
        return self.start("RemoteDesktop", session_path, options, sender)

    @dbus.service.method(REMOTE_DESKTOP, in_signature="oa{sv}", out_signature="o", sender_keyword="sender")
    def SelectDevices(self, session_path, options, sender=None):
        session = self.sessions.get(str(session_path))
        token = self.take_token(session, options) if session else ""
        if session:
            session.devices = int(options.get("types", 3))
        self.log("call RemoteDesktop.SelectDevices types=%d persist_mode=%d restore_token=%s"
                 % (int(options.get("types", 0)), int(options.get("persist_mode", 0)), "yes" if token else "no"))
        return self.answer(self.request_path(sender, options), 0 if session else 2, {})

    @dbus.service.method(REMOTE_DESKTOP, in_signature="oa{sv}udd")
    def NotifyPointerMotionAbsolute(self, session_path, options, stream, x, y):
        self.log("call RemoteDesktop.NotifyPointerMotionAbsolute stream=%d x=%.0f y=%.0f" % (stream, x, y))

    @dbus.service.method(REMOTE_DESKTOP, in_signature="oa{sv}iu")
    def NotifyPointerButton(self, session_path, options, button, state):
        self.log("call RemoteDesktop.NotifyPointerButton button=%d state=%d" % (button, state))

    @dbus.service.method(REMOTE_DESKTOP, in_signature="oa{sv}iu")
    def NotifyKeyboardKeycode(self, session_path, options, keycode, state):
        self.log("call RemoteDesktop.NotifyKeyboardKeycode keycode=%d state=%d" % (keycode, state))


class Portal(RemoteDesktopMethods):
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
        self.tokens = set()

    def log(self, line):
        self.log_file.write(line + "\n")

    def request_path(self, sender, options):
        token = str(options.get("handle_token", "t%s" % uuid.uuid4().hex))
        return "%s/request/%s/%s" % (OBJECT, sender[1:].replace(".", "_"), token)

    def answer(self, path, code, results):
        """Answers through a request object after the call returned, as the portal does."""
        request = Request(self.bus, path)

        def respond():
            request.Response(dbus.UInt32(code), dbus.Dictionary(results, signature="sv"))
            request.remove_from_connection()
            return False

        GLib.timeout_add(10, respond)
        return dbus.ObjectPath(path)

    def create_session(self, kind, options, sender):
        self.log("call %s.CreateSession" % kind)
        path = "%s/session/%s/%s" % (OBJECT, sender[1:].replace(".", "_"),
                                     str(options.get("session_handle_token", uuid.uuid4().hex)))
        self.sessions[path] = Session(self, path, kind)
        return self.answer(self.request_path(sender, options), 0, {"session_handle": dbus.String(path)})

    def take_token(self, session, options):
        token = str(options.get("restore_token", ""))
        if token:
            session.restored = token in self.tokens
            self.tokens.discard(token)
        session.persist = int(options.get("persist_mode", 0))
        return token

    def start(self, kind, session_path, options, sender):
        session = self.sessions.get(str(session_path))
        if session is None:
            return self.answer(self.request_path(sender, options), 2, {})
        if session.restored:
            self.log("restored %s types=%d" % (kind, session.types))
        else:
            self.log("question %s types=%d" % (kind, session.types))
        results = {"streams": dbus.Array(session.start_streams(), signature="(ua{sv})")}
        if kind == "RemoteDesktop":
            results["devices"] = dbus.UInt32(session.devices)
        if session.persist:
            token = uuid.uuid4().hex
            self.tokens.add(token)
            results["restore_token"] = dbus.String(token)
        self.log("started %s streams=%d" % (kind, len(results["streams"])))
        return self.answer(self.request_path(sender, options), 0, results)

    # ScreenCast
    @dbus.service.method(SCREEN_CAST, in_signature="a{sv}", out_signature="o", sender_keyword="sender")
    def CreateSession(self, options, sender=None):
        return self.create_session("ScreenCast", options, sender)

    @dbus.service.method(SCREEN_CAST, in_signature="oa{sv}", out_signature="o", sender_keyword="sender")
    def SelectSources(self, session_path, options, sender=None):
        session = self.sessions.get(str(session_path))
        token = self.take_token(session, options) if session else ""
        if session:
            session.types = int(options.get("types", 1))
        self.log("call ScreenCast.SelectSources types=%d cursor_mode=%d persist_mode=%d restore_token=%s"
                 % (int(options.get("types", 1)), int(options.get("cursor_mode", 0)),
                    int(options.get("persist_mode", 0)), "yes" if token else "no"))
        return self.answer(self.request_path(sender, options), 0 if session else 2, {})

    @dbus.service.method(SCREEN_CAST, in_signature="osa{sv}", out_signature="o", sender_keyword="sender")
    def Start(self, session_path, parent_window, options, sender=None):
        return self.start("ScreenCast", session_path, options, sender)

    @dbus.service.method(SCREEN_CAST, in_signature="oa{sv}", out_signature="h")
    def OpenPipeWireRemote(self, session_path, options):
        self.log("call ScreenCast.OpenPipeWireRemote")
        remote = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        remote.connect(os.path.join(os.environ["XDG_RUNTIME_DIR"], "pipewire-0"))
        fd = dbus.types.UnixFd(remote.fileno())
        remote.close()
        return fd

    # Properties of both interfaces.
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
    portal = Portal(bus, args)
    name = dbus.service.BusName("org.freedesktop.portal.Desktop", bus)
    loop = GLib.MainLoop()
    for signal in (15, 2):
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal, loop.quit)
    portal.log("ready")
    loop.run()
    for session in list(portal.sessions.values()):
        session.end()
    del name


if __name__ == "__main__":
    sys.exit(main())
