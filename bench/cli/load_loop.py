#!/usr/bin/env python3
"""The plain loop quillon-cli load is measured against: every line of FILE goes out with a CR,
and the reply is read up to its EOT (0x04), on the serial device DEVICE (or a pyserial URL such
as socket://HOST:PORT or rfc2217://HOST:PORT)."""
import sys

import serial


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: load_loop.py DEVICE FILE")
    device, path = sys.argv[1], sys.argv[2]
    with open(path, encoding="ascii") as f:
        lines = [line.strip() for line in f if line.strip()]
    with serial.serial_for_url(device, 9600, timeout=5) as port:
        port.reset_input_buffer()
        for line in lines:
            port.write(line.encode("ascii") + b"\r")
            reply = port.read_until(b"\x04")
            if not reply.endswith(b"\x04"):
                sys.exit("no end of reply after " + line)


if __name__ == "__main__":
    main()
