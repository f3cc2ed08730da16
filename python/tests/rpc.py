"""Raw protocol helpers for the tests of ``quillon-cli serve``: start the server on standard
input and output or on a Unix socket, write lines as they are (valid or not) and read the
answers with deadlines. No client library in between, so the tests see the bytes the server
writes."""

from __future__ import annotations

import itertools
import json
import os
import queue
import socket
import subprocess
import threading
from pathlib import Path
from typing import Any, Callable, Optional, Sequence

from support import DEADLINE_S, cli_path, terminate, wait_until


class Connection:
    """One line stream to the server. A reader thread turns every line into a JSON value
    (or the raw bytes when it is not JSON) on a queue; ``None`` marks the end of the stream.
    Responses are matched by id, notifications kept in ``notifications``."""

    def __init__(self, reader, writer, sock: Optional[socket.socket] = None) -> None:
        self._writer = writer
        self._socket = sock
        self._lines: "queue.Queue[Any]" = queue.Queue()
        self._pending: list[Any] = []
        self.notifications: list[dict] = []
        self.closed = False
        self._ids = itertools.count(1)
        threading.Thread(target=self._read, args=(reader,), daemon=True).start()

    def _read(self, reader) -> None:
        try:
            for line in reader:
                try:
                    self._lines.put(json.loads(line))
                except ValueError:
                    self._lines.put(line)
        except (OSError, ValueError):
            pass
        self._lines.put(None)

    def write(self, data: bytes) -> None:
        """Writes ``data`` as it is (add the LF yourself)."""
        self._writer(data)

    def request(self, method: str, params: Any = None, id: Any = None) -> Any:
        """Writes one request and returns its id (a fresh number unless given)."""
        if id is None:
            id = next(self._ids)
        message: dict = {"jsonrpc": "2.0", "id": id, "method": method}
        if params is not None:
            message["params"] = params
        self.write(json.dumps(message).encode() + b"\n")
        return id

    def next(self, timeout: float = DEADLINE_S) -> Any:
        """The next line read (a JSON value, raw bytes, or None at the end of the stream);
        raises TimeoutError when nothing comes in time."""
        if self._pending:
            return self._pending.pop(0)
        try:
            item = self._lines.get(timeout=timeout)
        except queue.Empty:
            raise TimeoutError("no line from the server in time") from None
        if item is None:
            self.closed = True
        return item

    def silent(self, timeout: float) -> bool:
        """True when nothing at all arrives within ``timeout`` seconds."""
        try:
            item = self._lines.get(timeout=timeout)
        except queue.Empty:
            return True
        self._pending.append(item)
        return False

    def _take(self, wanted: Callable[[Any, bool], bool], timeout: float) -> Any:
        """Reads until ``wanted(item, is_notification)``; notifications go to
        ``notifications``, other lines not wanted stay queued for later."""
        skipped: list[Any] = []
        try:
            while True:
                item = self.next(timeout)
                if item is None:
                    raise EOFError("the server closed the stream")
                notification = isinstance(item, dict) and "id" not in item and "method" in item
                if notification:
                    self.notifications.append(item)
                if wanted(item, notification):
                    return item
                if not notification:
                    skipped.append(item)
        finally:
            self._pending[:0] = skipped

    def response(self, id: Any = ..., timeout: float = DEADLINE_S) -> Any:
        """The next response (anything that is not a notification), or the one with ``id``."""
        return self._take(lambda item, notification: not notification and (
            id is ... or isinstance(item, dict) and item.get("id") == id), timeout)

    def notification(self, match: Callable[[dict], bool] = lambda n: True,
                     timeout: float = DEADLINE_S) -> dict:
        """The first notification (seen already or still to come) that ``match`` accepts."""
        for n in self.notifications:
            if match(n):
                return n
        return self._take(lambda item, notification: notification and match(item), timeout)

    def vanish(self) -> None:
        """Drops a socket connection at once, as a client that dies does."""
        self._socket.shutdown(socket.SHUT_RDWR)
        self._socket.close()

    def call(self, method: str, params: Any = None, timeout: float = DEADLINE_S) -> dict:
        """Request and its response."""
        return self.response(self.request(method, params), timeout)


class Server:
    """``quillon-cli [options] serve [--socket PATH]`` with its own stdin/stdout pipes; on a
    socket, ``connect()`` opens client connections. ``stop()`` ends it (SIGTERM) unless it
    ended already; ``returncode`` then holds its exit status."""

    def __init__(self, options: Sequence[str] = (), socket_path: Optional[Path] = None,
                 cwd: Optional[Path] = None) -> None:
        args = [str(cli_path()), *options, "serve"]
        if socket_path is not None:
            args += ["--socket", str(socket_path)]
        env = dict(os.environ, LANGUAGE="en")
        self.socket_path = socket_path
        self.process = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        cwd=cwd, env=env)
        self.stdio = Connection(self.process.stdout, self._write_stdin)
        if socket_path is not None and not wait_until(
                lambda: socket_path.exists() or self.process.poll() is not None):
            raise RuntimeError("the server made no socket")
        self._sockets: list[socket.socket] = []

    def _write_stdin(self, data: bytes) -> None:
        self.process.stdin.write(data)
        self.process.stdin.flush()

    @property
    def pid(self) -> int:
        return self.process.pid

    def connect(self) -> Connection:
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.connect(str(self.socket_path))
        self._sockets.append(s)
        return Connection(s.makefile("rb"), s.sendall, s)

    def end_input(self) -> None:
        self.process.stdin.close()

    def wait(self, timeout: float = DEADLINE_S) -> int:
        return self.process.wait(timeout)

    def stop(self) -> Optional[int]:
        for s in self._sockets:
            s.close()
        terminate(self.process)
        for f in (self.process.stdin, self.process.stdout):
            try:
                f.close()
            except OSError:
                pass
        return self.process.returncode

    def __enter__(self) -> "Server":
        return self

    def __exit__(self, *exc: object) -> None:
        self.stop()


def sent_commands(log: Path) -> list[str]:
    """The commands a traffic log (quillon-cli --log) shows going out, in order."""
    if not log.exists():
        return []
    out = []
    for line in log.read_text(encoding="utf-8", errors="replace").splitlines():
        parts = line.split(" ", 3)
        if len(parts) == 4 and parts[2] == ">>":
            out.append(parts[3].removesuffix("\\r"))
    return out
