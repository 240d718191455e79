"""A pad client and a channel client as the Windows end-to-end tests need them: the wire
messages built and read field by field (little-endian, UdpInfo ports in network order), and
a TCP connection that reads whole messages with a deadline."""

import socket
import struct
import time

HEADER_SIZE = 12
NAME_FIELD_SIZE = 128
RECORD_SIZE = 132

HELLO = 1
HELLO_REPLY = 2
REFUSAL = 3
APP_NAME = 4
KEY_DOWN = 5
KEY_UP = 6
CHANNEL_EVENT = 7
GAMEPAD_EVENT = 8
UDP_INFO = 9
GAMEPAD_BUTTON = 2

NO_VALUE = 0xFFFFFFFF


def name_field(text):
    encoded = text.encode("latin-1")[: NAME_FIELD_SIZE - 1]
    return encoded + bytes(NAME_FIELD_SIZE - len(encoded))


def field_text(field):
    return field.split(b"\0", 1)[0].decode("latin-1")


def message(kind, argument, body=b""):
    return struct.pack("<III", HEADER_SIZE + len(body), kind, argument) + body


def hello(device_name):
    return message(HELLO, NAME_FIELD_SIZE, name_field(device_name))


def app_name(name, process_id=0):
    return message(APP_NAME, RECORD_SIZE, name_field(name) + struct.pack("<I", process_id))


def key_message(kind, entries):
    """entries: (character, key_index) pairs, NO_VALUE where absent."""
    body = b"".join(struct.pack("<III", 0, character, key_index)
                    for character, key_index in entries)
    return message(kind, len(entries), body)


def typed_character(kind, character):
    return key_message(kind, [(ord(character), NO_VALUE)])


def gamepad_button(button, value):
    body = struct.pack("<IIIf", GAMEPAD_BUTTON, 1, button, value)
    return message(GAMEPAD_EVENT, 0, body)


def channel_event(payload):
    return message(CHANNEL_EVENT, 0, payload)


class Received:
    """One message from the server: its header fields and whole bytes."""

    def __init__(self, data):
        self.data = data
        self.size, self.kind, self.argument = struct.unpack_from("<III", data)

    def server_name(self):
        return field_text(self.data[12:12 + NAME_FIELD_SIZE])

    def apps(self):
        """(name, process id) of a HelloReply's records."""
        count = struct.unpack_from("<I", self.data, 140)[0]
        records = []
        for index in range(count):
            offset = 144 + RECORD_SIZE * index
            name = field_text(self.data[offset:offset + NAME_FIELD_SIZE])
            process_id = struct.unpack_from("<I", self.data, offset + NAME_FIELD_SIZE)[0]
            records.append((name, process_id))
        return records

    def app_name(self):
        return field_text(self.data[12:12 + NAME_FIELD_SIZE])

    def udp_ports(self):
        family4, port4 = struct.unpack_from("<H", self.data, 12)[0], \
            struct.unpack_from(">H", self.data, 14)[0]
        family6, port6 = struct.unpack_from("<H", self.data, 28)[0], \
            struct.unpack_from(">H", self.data, 30)[0]
        return (family4, port4), (family6, port6)


class ConnectionClosed(Exception):
    pass


class Client:
    """One TCP connection to a service on this machine."""

    def __init__(self, port, family=socket.AF_INET):
        address = "127.0.0.1" if family == socket.AF_INET else "::1"
        self.sock = socket.create_connection((address, port), timeout=10)
        self.buffer = b""

    def send(self, data):
        self.sock.sendall(data)

    def _fill(self, count, deadline):
        while len(self.buffer) < count:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise TimeoutError("no message from the server")
            self.sock.settimeout(remaining)
            try:
                chunk = self.sock.recv(65536)
            except socket.timeout as error:
                raise TimeoutError("no message from the server") from error
            except ConnectionResetError as error:
                raise ConnectionClosed() from error
            if not chunk:
                raise ConnectionClosed()
            self.buffer += chunk

    def receive(self, timeout=10.0):
        deadline = time.monotonic() + timeout
        self._fill(HEADER_SIZE, deadline)
        size = struct.unpack_from("<I", self.buffer)[0]
        self._fill(size, deadline)
        data, self.buffer = self.buffer[:size], self.buffer[size:]
        return Received(data)

    def receive_kind(self, kind, timeout=10.0):
        """The next message of `kind`, skipping others (AppName broadcasts, say)."""
        deadline = time.monotonic() + timeout
        while True:
            received = self.receive(max(0.1, deadline - time.monotonic()))
            if received.kind == kind:
                return received

    def closed_by_server(self, timeout=10.0):
        """True when the server closes the connection within `timeout` (messages skipped)."""
        deadline = time.monotonic() + timeout
        try:
            while time.monotonic() < deadline:
                self.receive(max(0.1, deadline - time.monotonic()))
        except ConnectionClosed:
            return True
        except TimeoutError:
            return False
        return False

    def close(self):
        self.sock.close()
