"""Virtual serial lines for Wine: a pty whose slave side is linked as
$WINEPREFIX/dosdevices/comN, so a Windows program opens it as "COMn:".
Writing to the master plays bytes as a scanner would; closing it is a pulled
cable. Also serves these operations over a local TCP socket, one command a
line, for test programs that run under Wine and cannot reach a pty themselves:
  open N | write N HEX | close N | unlink N   ->  "ok" or "error TEXT"
"""
import os
import pty
import socket
import socketserver
import threading
import tty


def dosdevices():
    # Never the developer's ~/.wine: links there would outlive the run.
    prefix = os.environ.get("WINEPREFIX")
    if not prefix:
        raise RuntimeError("WINEPREFIX is not set (source scripts/wine-env first)")
    return os.path.join(prefix, "dosdevices")


class VirtualSerial:
    """One pty linked as comN. Not thread-safe on its own; VirtualSerialSet locks."""

    def __init__(self, port, link=None):
        self.port = port
        self.link = link or os.path.join(dosdevices(), "com%d" % port)
        self.master = None

    def open(self):
        self.close()
        master, slave = pty.openpty()
        tty.setraw(slave)
        name = os.ttyname(slave)
        # The slave stays open here too: a pty whose slave side nobody holds
        # loses what the master writes before the program opens it.
        self.slave = slave
        self.master = master
        if os.path.lexists(self.link):
            os.unlink(self.link)
        os.symlink(name, self.link)

    def write(self, data):
        view = memoryview(bytes(data))
        while view:
            n = os.write(self.master, view)
            view = view[n:]

    def unlink(self):
        if os.path.lexists(self.link):
            os.unlink(self.link)

    def close(self):
        """Pulls the cable: the line goes away and so does the device name."""
        self.unlink()
        if self.master is not None:
            os.close(self.slave)
            os.close(self.master)
            self.master = None


class VirtualSerialSet:
    def __init__(self):
        self.lines = {}
        self.lock = threading.Lock()

    def command(self, line):
        words = line.split()
        if not words:
            return "error empty"
        op, args = words[0], words[1:]
        try:
            with self.lock:
                port = int(args[0])
                serial = self.lines.setdefault(port, VirtualSerial(port))
                if op == "open":
                    serial.open()
                elif op == "write":
                    serial.write(bytes.fromhex(args[1]) if len(args) > 1 else b"")
                elif op == "close":
                    serial.close()
                elif op == "unlink":
                    serial.unlink()
                else:
                    return "error unknown command"
            return "ok"
        except (OSError, ValueError, IndexError) as e:
            return "error %s" % e

    def close_all(self):
        with self.lock:
            for serial in self.lines.values():
                serial.close()


class _Handler(socketserver.StreamRequestHandler):
    def handle(self):
        for raw in self.rfile:
            reply = self.server.lines.command(raw.decode("ascii", "replace").strip())
            self.wfile.write((reply + "\n").encode("ascii"))
            self.wfile.flush()


class _Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def serve(lines):
    """Starts the command server on a free local port; returns (server, port)."""
    server = _Server(("127.0.0.1", 0), _Handler)
    server.lines = lines
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, server.server_address[1]
