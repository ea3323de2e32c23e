#!/usr/bin/python3
"""Asks the Wayland compositor for an activation token, as a launcher does
before it starts a program, and prints it. Speaks the wire protocol itself,
so it needs nothing beyond Python."""
import os
import socket
import struct
import sys


def message(obj, opcode, payload=b""):
    return struct.pack("<II", obj, (8 + len(payload)) << 16 | opcode) + payload


def string(text):
    data = text.encode() + b"\0"
    return struct.pack("<I", len(data)) + data + b"\0" * (-len(data) % 4)


def events(sock):
    buffer = b""
    while True:
        while len(buffer) >= 8:
            obj, word = struct.unpack("<II", buffer[:8])
            size = word >> 16
            if len(buffer) < size:
                break
            yield obj, word & 0xFFFF, buffer[8:size]
            buffer = buffer[size:]
        chunk = sock.recv(4096)
        if not chunk:
            return
        buffer += chunk


def read_string(payload, at=0):
    length = struct.unpack_from("<I", payload, at)[0]
    return payload[at + 4:at + 4 + length - 1].decode(), at + 4 + length + (-length % 4)


def main():
    display = os.environ.get("WAYLAND_DISPLAY", "wayland-0")
    if not display.startswith("/"):
        display = os.path.join(os.environ["XDG_RUNTIME_DIR"], display)
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    sock.connect(display)
    # wl_display.get_registry(2), then wl_display.sync(3) to know when the globals are all in.
    sock.sendall(message(1, 1, struct.pack("<I", 2)) + message(1, 0, struct.pack("<I", 3)))
    activation = None
    stream = events(sock)
    for obj, opcode, payload in stream:
        if obj == 2 and opcode == 0:
            name = struct.unpack_from("<I", payload)[0]
            interface, _ = read_string(payload, 4)
            if interface == "xdg_activation_v1":
                activation = name
        elif obj == 3:
            break
        elif obj == 1 and opcode == 0:
            sys.exit("wayland error")
    if activation is None:
        sys.exit("the compositor offers no xdg_activation_v1")
    # wl_registry.bind(name, interface, version 1, id 4); get_activation_token(5); commit.
    bind = struct.pack("<I", activation) + string("xdg_activation_v1") + struct.pack("<II", 1, 4)
    sock.sendall(message(2, 0, bind) + message(4, 1, struct.pack("<I", 5)) + message(5, 3))
    for obj, opcode, payload in stream:
        if obj == 5 and opcode == 0:
            print(read_string(payload)[0])
            return
        if obj == 1 and opcode == 0:
            sys.exit("wayland error")
    sys.exit("no token")


main()
