#!/usr/bin/python3
"""Fills a python-dbusmock NetworkManager on the bus at ADDRESS with active connections.

    nm_setup.py ADDRESS [--delay=SECONDS] TYPE:ID[:BLUETOOTH_KIND]...

A connection whose ID is "fail" refuses to be deactivated. With --delay, NetworkManager
takes that long over each deactivation, and answers nothing else meanwhile.
"""
import sys
import uuid

import dbus

NM = "org.freedesktop.NetworkManager"
NM_PATH = "/org/freedesktop/NetworkManager"

bus = dbus.bus.BusConnection(sys.argv[1])
manager = bus.get_object(NM, NM_PATH)
mock = dbus.Interface(manager, "org.freedesktop.DBus.Mock")
settings = dbus.Interface(bus.get_object(NM, NM_PATH + "/Settings"), NM + ".Settings")

specs = [a for a in sys.argv[2:] if not a.startswith("--delay=")]
delays = [a.split("=", 1)[1] for a in sys.argv[2:] if a.startswith("--delay=")]
mock.AddMethod(NM, "DeactivateConnection", "o", "",
               ("import time; time.sleep(%s)\n" % float(delays[0]) if delays else "") +
               "if args[0].endswith('/fail'):\n"
               "    raise dbus.exceptions.DBusException('refused', name='org.freedesktop.NetworkManager.Failed')")

for spec in specs:
    parts = spec.split(":")
    kind, name = parts[0], parts[1]
    config = {"connection": {"type": kind, "id": name, "uuid": str(uuid.uuid4())}}
    if len(parts) > 2:
        config["bluetooth"] = {"type": parts[2]}
    path = settings.AddConnection(dbus.Dictionary(
        {k: dbus.Dictionary(v, signature="sv") for k, v in config.items()}, signature="sa{sv}"))
    mock.AddActiveConnection(dbus.Array([], signature="s"), path, "/", name, dbus.UInt32(2))
