"""Shared helpers for the tests that drive the real programs from Python.

The build's program folder is taken from the environment variable QUILLON_BIN_DIR (CTest
sets it) or else from ``build/bin`` beside this source tree. Tests wait on conditions with
generous deadlines (``wait_until``), never on bare sleeps: machines are loaded and
sanitizer builds are slow.
"""

from __future__ import annotations

import os
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path
from typing import Any, Callable, Optional, Sequence

#: Deadline for anything a test waits for; generous on purpose.
DEADLINE_S = 30.0


def bin_dir() -> Path:
    """The build's program folder (quillon-cli, camsim, CamDefine/)."""
    env = os.environ.get("QUILLON_BIN_DIR")
    if env:
        return Path(env).resolve()
    return (Path(__file__).resolve().parent / ".." / ".." / "build" / "bin").resolve()


def cli_path() -> Path:
    """The build's quillon-cli."""
    return bin_dir() / "quillon-cli"


def definition_path(name: str = "XC-100.xml") -> Path:
    """A camera definition shipped in the program folder's CamDefine/."""
    return bin_dir() / "CamDefine" / name


def wait_until(condition: Callable[[], object], timeout: float = DEADLINE_S,
               interval: float = 0.01) -> bool:
    """Poll ``condition`` until it is truthy or ``timeout`` seconds pass; its last result."""
    end = time.monotonic() + timeout
    while True:
        if condition():
            return True
        if time.monotonic() >= end:
            return False
        time.sleep(interval)


class TempDir:
    """A temporary folder removed on ``cleanup()`` or at the end of a ``with`` block."""

    def __init__(self) -> None:
        self.path = Path(tempfile.mkdtemp(prefix="quillon-py-"))

    def file(self, name: str) -> Path:
        """A path inside the folder (not created)."""
        return self.path / name

    def cleanup(self) -> None:
        shutil.rmtree(self.path, ignore_errors=True)

    def __enter__(self) -> "TempDir":
        return self

    def __exit__(self, *exc: object) -> None:
        self.cleanup()


def terminate(process: "subprocess.Popen[Any]") -> None:
    """SIGTERM to a process still running, and wait for it (SIGKILL after the deadline)."""
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(DEADLINE_S)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class CamSim:
    """The camera simulator on a pseudo-terminal published as the link ``folder/name``.

    ``options`` are passed to camsim as given (e.g. ``["--no-answer"]``,
    ``["--clamp", "Gain=100"]``). The constructor returns once the link exists; its
    output goes to ``camsim.out`` / ``camsim.err`` in the folder.
    """

    def __init__(self, folder: Path, options: Sequence[str] = (), name: str = "cam",
                 definition: Optional[Path] = None) -> None:
        self.link = Path(folder) / name
        exe = bin_dir() / "camsim"
        args = [str(exe), "--definition", str(definition or definition_path()),
                "--link", str(self.link), *options]
        self._out = open(Path(folder) / f"{name}-camsim.out", "ab")
        self._err = open(Path(folder) / f"{name}-camsim.err", "ab")
        self.process = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=self._out,
                                        stderr=self._err)
        if not wait_until(lambda: os.path.lexists(self.link) or self.process.poll() is not None):
            self.stop()
            raise RuntimeError(f"camsim did not publish {self.link}")
        if self.process.poll() is not None:
            code = self.process.returncode
            self.stop()
            raise RuntimeError(f"camsim exited with {code} before publishing {self.link}")

    @property
    def port(self) -> str:
        """The link's path as a string, the way quillon-cli takes a port."""
        return str(self.link)

    def stop(self) -> None:
        """SIGTERM and wait (SIGKILL after the deadline); idempotent."""
        terminate(self.process)
        for f in (self._out, self._err):
            if not f.closed:
                f.close()

    def __enter__(self) -> "CamSim":
        return self

    def __exit__(self, *exc: object) -> None:
        self.stop()
