#!/usr/bin/env python3
"""Runs a Windows test program under Wine with a virtual serial line server
beside it (QUORVEL_VSERIAL=port in its environment), and removes every line
the program made when it ends."""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "e2e"))
import vserial  # noqa: E402


def main():
    lines = vserial.VirtualSerialSet()
    server, port = vserial.serve(lines)
    env = dict(os.environ, QUORVEL_VSERIAL=str(port))
    try:
        return subprocess.call(sys.argv[1:], env=env)
    finally:
        server.shutdown()
        lines.close_all()


if __name__ == "__main__":
    sys.exit(main())
