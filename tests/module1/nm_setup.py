#!/usr/bin/python3
"""Fills a python-dbusmock NetworkManager on the bus at ADDRESS with active connections.

    nm_setup.py ADDRESS TYPE:ID[:BLUETOOTH_KIND]...

A connection whose ID is "fail" refuses to be deactivated.
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

mock.AddMethod(NM, "DeactivateConnection", "o", "",
               "if args[0].endswith('/fail'):\n"
               "    raise dbus.exceptions.DBusException('refused', name='org.freedesktop.NetworkManager.Failed')")

for spec in sys.argv[2:]:
    parts = spec.split(":")
    kind, name = parts[0], parts[1]
    config = {"connection": {"type": kind, "id": name, "uuid": str(uuid.uuid4())}}
    if len(parts) > 2:
        config["bluetooth"] = {"type": parts[2]}
    path = settings.AddConnection(dbus.Dictionary(
        {k: dbus.Dictionary(v, signature="sv") for k, v in config.items()}, signature="sa{sv}"))
    mock.AddActiveConnection(dbus.Array([], signature="s"), path, "/", name, dbus.UInt32(2))
