#!/usr/bin/env python3
"""`send` requests through the Python package `quillon` (quillon-cli serve) against a plain
pyserial loop writing the same command and reading its reply to the end (EOT, 0x04), on the
same camera simulator, in alternating rounds. Prints per-request p50/p99 of both, the ratio of
the totals (goal: at most 1.3), the bare transaction as the reports give it (elapsed_ms) and
the serve overhead per request beside it, and the load average before and after.

    /usr/bin/python3 bench/serve/send_bench.py [--build DIR] [--rounds 5] [--per-round 200]
                                               [--pace BAUD]

--pace makes the simulator take the time a serial line at BAUD takes for each command and its
answer (a pseudo-terminal takes none), so the loops compare at a camera's speed.

Needs python3-serial. The package is taken from python/ of this tree, quillon-cli and camsim
from the build's bin folder. A third loop sends the same requests as raw protocol lines (no
package) to a second server, to tell the server's share from the package's.
"""
from __future__ import annotations

import argparse
import statistics
import sys
import time
from pathlib import Path

import serial

HERE = Path(__file__).resolve().parent
ROOT = HERE.parents[1]
sys.path[:0] = [str(ROOT / "python"), str(ROOT / "python" / "tests")]

import quillon  # noqa: E402
from rpc import Server  # noqa: E402
from support import CamSim, TempDir  # noqa: E402


def percentile(values: list[float], p: float) -> float:
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(p / 100 * len(ordered)))]


def commands(n: int) -> list[str]:
    return [f"gai {i % 241}" for i in range(n)]


def serve_round(cam: quillon.Camera, port: str, n: int) -> tuple[list[float], list[float]]:
    """Per-request wall times (ms) through the package, and the reports' elapsed_ms. The
    port is open only during the round, so that the pyserial loop has the terminal alone."""
    wall, bare = [], []
    cam.open(port)
    try:
        for command in commands(n):
            t0 = time.perf_counter()
            reports = cam.send(command)
            wall.append((time.perf_counter() - t0) * 1000)
            if reports[0].result != "ok":
                sys.exit(f"{command}: {reports[0].result}")
            bare.append(float(reports[0].elapsed_ms))
    finally:
        cam.close_port()
    return wall, bare


def raw_round(server: Server, n: int) -> list[float]:
    """The same requests as raw protocol lines, without the package: what the server costs
    on its own."""
    c = server.stdio
    c.call("open")
    wall = []
    for command in commands(n):
        t0 = time.perf_counter()
        c.call("send", {"commands": [command]})
        wall.append((time.perf_counter() - t0) * 1000)
    c.call("close")
    return wall


def pyserial_round(port: str, n: int) -> list[float]:
    wall = []
    with serial.Serial(port, 9600, timeout=5) as line:
        line.reset_input_buffer()
        for command in commands(n):
            t0 = time.perf_counter()
            line.write(command.encode("ascii") + b"\r")
            if not line.read_until(b"\x04").endswith(b"\x04"):
                sys.exit(f"no end of reply after {command}")
            wall.append((time.perf_counter() - t0) * 1000)
    return wall


def loadavg() -> str:
    return " ".join(Path("/proc/loadavg").read_text().split()[:3])


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", type=Path, default=ROOT / "build")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--per-round", type=int, default=200)
    parser.add_argument("--pace", type=int, default=0, metavar="BAUD",
                        help="the simulator takes a serial line's time at BAUD (0: none)")
    args = parser.parse_args()
    bin_dir = args.build.resolve() / "bin"
    print(f"load average before: {loadavg()}")
    serve, bare, raw, plain = [], [], [], []
    options = ["--pace", str(args.pace)] if args.pace else []
    with TempDir() as tmp, CamSim(tmp.path, options) as sim, \
            quillon.open(sim.port, gap_ms=0, cli=bin_dir / "quillon-cli") as cam, \
            Server(["--port", sim.port, "--gap", "0"]) as server:
        cam.close_port()
        for _ in range(args.rounds):
            w, b = serve_round(cam, sim.port, args.per_round)
            serve += w
            bare += b
            plain += pyserial_round(sim.port, args.per_round)
            raw += raw_round(server, args.per_round)
    overhead = [w - b for w, b in zip(serve, bare)]
    n = len(serve)
    print(f"load average after:  {loadavg()}")
    print(f"{n} requests each way, {args.rounds} alternating rounds of {args.per_round}")
    for name, values in (("quillon send", serve), ("raw protocol send", raw),
                         ("pyserial loop", plain),
                         ("bare transaction (elapsed_ms)", bare),
                         ("serve overhead (wall - elapsed_ms)", overhead)):
        print(f"  {name:36} p50 {percentile(values, 50):7.3f} ms  "
              f"p99 {percentile(values, 99):7.3f} ms  mean {statistics.fmean(values):7.3f} ms")
    print(f"ratio of totals {sum(serve) / sum(plain):.2f} (goal <= 1.3); "
          f"raw protocol against the loop {sum(raw) / sum(plain):.2f}")
    print("elapsed_ms is whole milliseconds: below 1 ms the overhead is the whole request")


if __name__ == "__main__":
    main()
