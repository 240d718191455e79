#!/usr/bin/env python3
"""A scriptable pad (or channel) client for the end-to-end tests.

Connects to HOST PORT over TCP (IPv4 or IPv6, as the address says), then takes commands from
standard input, one per line, and reports everything the server sends on standard output,
one line per message, flushed at once:

  commands:  hello NAME        send a Hello with NAME as the device name
             send HEX          send these bytes as they are (a whole message)
             close             close the connection and end
  reports:   connected
             message TYPE ARGUMENT HEX    a whole message: type and argument in decimal,
                                          every byte (header included) in hex
             closed                       the server ended the connection
             error TEXT

The client never interprets what it gets: the test decides what is right.
"""
import select
import socket
import struct
import sys

HEADER = struct.Struct("<III")
HELLO = 1
NAME_FIELD = 128
# Larger than any message of the protocol (a datagram's worth).
MESSAGE_LIMIT = 65535


def report(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def hello(name):
    body = name.encode("utf-8")[:NAME_FIELD].ljust(NAME_FIELD, b"\0")
    return HEADER.pack(HEADER.size + NAME_FIELD, HELLO, NAME_FIELD) + body


class Reader:
    def __init__(self, sock):
        self.sock = sock
        self.buffer = b""

    def take(self):
        """Reads what is there; returns False once the server has closed."""
        try:
            chunk = self.sock.recv(65536)
        except ConnectionResetError:
            return False
        if not chunk:
            return False
        self.buffer += chunk
        while len(self.buffer) >= HEADER.size:
            size, kind, argument = HEADER.unpack_from(self.buffer)
            if size < HEADER.size or size > MESSAGE_LIMIT:
                report("error bad packet size %d" % size)
                return False
            if len(self.buffer) < size:
                break
            whole, self.buffer = self.buffer[:size], self.buffer[size:]
            report("message %d %d %s" % (kind, argument, whole.hex()))
        return True


def run_command(sock, line):
    words = line.split(None, 1)
    if not words:
        return True
    verb, rest = words[0], (words[1] if len(words) > 1 else "")
    if verb == "hello":
        sock.sendall(hello(rest))
    elif verb == "send":
        sock.sendall(bytes.fromhex(rest))
    elif verb == "close":
        return False
    else:
        report("error unknown command %s" % verb)
    return True


def main():
    if len(sys.argv) != 3:
        sys.stderr.write("usage: pad_client.py HOST PORT\n")
        return 2
    host, port = sys.argv[1], int(sys.argv[2])
    family = socket.AF_INET6 if ":" in host else socket.AF_INET
    sock = socket.socket(family, socket.SOCK_STREAM)
    sock.settimeout(10)
    try:
        sock.connect((host, port))
    except OSError as error:
        report("error connect %s" % error)
        return 3
    sock.settimeout(None)
    report("connected")
    reader = Reader(sock)
    commands = sys.stdin.fileno()
    watching = [sock, commands]
    pending = b""
    while True:
        readable, _, _ = select.select(watching, [], [])
        if sock in readable and not reader.take():
            report("closed")
            return 0
        if commands in readable:
            data = sys.stdin.buffer.raw.read(4096)
            if not data:
                watching.remove(commands)  # no more commands; keep listening
                continue
            pending += data
            while b"\n" in pending:
                line, pending = pending.split(b"\n", 1)
                if not run_command(sock, line.decode("utf-8").strip()):
                    sock.close()
                    return 0


if __name__ == "__main__":
    sys.exit(main())
