"""One JSON-RPC connection to ``quillon-cli serve``: a pipe pair to a child process or a
Unix socket, a reader thread that hands each response to the call waiting for its id and
each notification to a handler.
"""

from __future__ import annotations

import collections
import itertools
import json
import logging
import os
import signal
import socket
import subprocess
import threading
from typing import IO, Any, Callable, Deque, Dict, Optional, Sequence

from .errors import QuillonError, ServerGoneError, error_for

_log = logging.getLogger("quillon")

#: How long ``close`` waits for a child server to end after its input was closed (its
#: running request completes first), then after SIGTERM, before SIGKILL.
CLOSE_WAIT_S = 60.0
TERM_WAIT_S = 10.0

NotificationHandler = Callable[[str, Dict[str, Any]], None]


#: The notification a connection gives its owner last, when the server has gone.
END_OF_NOTIFICATIONS = "quillon.end"


class _Pending:
    __slots__ = ("done", "response", "failure")

    def __init__(self) -> None:
        self.done = threading.Event()
        self.response: Optional[Dict[str, Any]] = None
        self.failure: Optional[QuillonError] = None


class Connection:
    """Requests and their answers over one byte stream; thread-safe.

    ``call`` may be used from any thread except the reader thread (a notification handler
    that waits for an answer would wait for itself: it raises RuntimeError instead).
    """

    def __init__(self, reader: IO[bytes], write: Callable[[bytes], None],
                 on_notification: NotificationHandler, name: str) -> None:
        self._reader_file = reader
        self._write = write
        self._on_notification = on_notification
        self._lock = threading.Lock()  # writes, ids, pending, the end
        self._ids = itertools.count(1)
        self._pending: Dict[int, _Pending] = {}
        self._gone: Optional[ServerGoneError] = None
        self._first_answer = threading.Event()
        self._thread = threading.Thread(target=self._read_loop, name=f"quillon-{name}",
                                        daemon=True)

    def start(self) -> None:
        self._thread.start()

    # ---- requests

    def call(self, method: str, params: Optional[Dict[str, Any]] = None) -> Any:
        """Send a request and wait for its answer: the result, or the error raised.

        Waits as long as the server takes: each camera transaction is bounded by the open
        port's time-out and a request waits its turn behind other clients' jobs; it ends at
        once when the server goes away (ServerGoneError).
        """
        if threading.current_thread() is self._thread:
            raise RuntimeError("a notification callback cannot wait for an answer from the "
                               "same camera; hand the work to another thread")
        pending = _Pending()
        request: Dict[str, Any] = {"jsonrpc": "2.0", "id": 0, "method": method}
        if params is not None:
            request["params"] = params
        with self._lock:
            if self._gone is not None:
                raise self._gone.copy()
            request["id"] = ident = next(self._ids)
            line = json.dumps(request, ensure_ascii=False, separators=(",", ":")) + "\n"
            self._pending[ident] = pending
            try:
                self._write(line.encode("utf-8"))
                written: Optional[BaseException] = None
            except (OSError, ValueError) as e:
                written = e
        if written is not None:
            # The server is going away: the reader's end tells why (its exit status and
            # error output), which says more than the broken pipe.
            if not pending.done.wait(TERM_WAIT_S):
                with self._lock:
                    self._pending.pop(ident, None)
                raise ServerGoneError(f"the server cannot be reached: {written}") from written
        pending.done.wait()
        if pending.failure is not None:
            raise pending.failure.copy()
        response = pending.response
        assert response is not None
        if "error" in response:
            err = response["error"]
            if not isinstance(err, dict):
                raise error_for(-32603, f"malformed error answer: {err!r}")
            raise error_for(int(err.get("code", 0)), str(err.get("message", "")),
                            err.get("data"))
        return response.get("result")

    # ---- the reader thread

    def _read_loop(self) -> None:
        reason = "the server closed the connection"
        try:
            for raw in self._reader_file:
                self._dispatch(raw)
        except (OSError, ValueError) as e:
            reason = f"reading from the server failed: {e}"
        self._end(reason)
        try:
            # No server method has this name: what waits for notifications ends too.
            self._on_notification(END_OF_NOTIFICATIONS, {})
        except Exception:
            _log.exception("quillon: ending the notifications raised")

    def _dispatch(self, raw: bytes) -> None:
        try:
            message = json.loads(raw.decode("utf-8"))
        except (UnicodeDecodeError, ValueError):
            _log.warning("quillon: unreadable line from the server: %r", raw[:200])
            return
        if not isinstance(message, dict):
            _log.warning("quillon: unexpected message from the server: %r", message)
            return
        if "method" in message and "id" not in message:
            params = message.get("params")
            try:
                self._on_notification(str(message["method"]),
                                      params if isinstance(params, dict) else {})
            except Exception:  # a callback's fault must not end the reader
                _log.exception("quillon: a callback for %r raised", message["method"])
            return
        with self._lock:
            pending = self._pending.pop(message.get("id"), None)  # type: ignore[arg-type]
        if pending is None:
            _log.warning("quillon: an answer nobody waits for: %r", message)
            return
        self._first_answer.set()
        pending.response = message
        pending.done.set()

    def _end(self, reason: str) -> None:
        failure = self.describe_end(reason, answered=self._first_answer.is_set())
        with self._lock:
            # Later calls raise the plain ServerGoneError even when the first one raised the
            # status the server ended with.
            self._gone = failure if isinstance(failure, ServerGoneError) else \
                ServerGoneError(f"quillon-cli serve ended: {failure.message}", failure.data)
            pending, self._pending = self._pending, {}
        for p in pending.values():
            p.failure = failure
            p.done.set()

    def describe_end(self, reason: str, answered: bool) -> QuillonError:
        """The error the waiting calls get when the connection ends (overridden for a
        child process: its exit status and error output)."""
        return ServerGoneError(reason)

    def close(self) -> None:
        """End the connection (the subclasses say how)."""
        raise NotImplementedError

    def alive(self) -> bool:
        return self._gone is None

    def join(self, timeout: Optional[float] = None) -> None:
        if self._thread.is_alive() and threading.current_thread() is not self._thread:
            self._thread.join(timeout)


class ProcessConnection(Connection):
    """``quillon-cli [options] serve`` as a child process on standard input and output."""

    def __init__(self, argv: Sequence[str], on_notification: NotificationHandler) -> None:
        self.argv = list(argv)
        self.process = subprocess.Popen(self.argv, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        start_new_session=True)
        assert self.process.stdin and self.process.stdout and self.process.stderr
        stdin = self.process.stdin

        def write(data: bytes) -> None:
            stdin.write(data)
            stdin.flush()

        super().__init__(self.process.stdout, write, on_notification, "serve")
        self._stderr: Deque[str] = collections.deque(maxlen=50)
        self._stderr_thread = threading.Thread(target=self._drain_stderr,
                                               name="quillon-serve-stderr", daemon=True)
        self._stderr_thread.start()
        self.start()

    def _drain_stderr(self) -> None:
        assert self.process.stderr
        for raw in self.process.stderr:
            text = raw.decode("utf-8", "replace").rstrip("\n")
            self._stderr.append(text)
            _log.debug("quillon-cli: %s", text)

    def stderr_text(self) -> str:
        """The server's last lines of error output."""
        return "\n".join(self._stderr)

    def describe_end(self, reason: str, answered: bool) -> QuillonError:
        try:
            status: Optional[int] = self.process.wait(TERM_WAIT_S)
        except subprocess.TimeoutExpired:
            status = None
        self._stderr_thread.join(TERM_WAIT_S)
        err = self.stderr_text()
        last = err.splitlines()[-1] if err else ""
        if last.startswith("quillon-cli: "):
            last = last[len("quillon-cli: "):]
        # A server that could not start (bad options, a log file it cannot write) ends with
        # quillon-cli's exit status and says why: that is the error of the first request.
        if not answered and status is not None and 1 <= status <= 6 and last:
            return error_for(status, last, {"status": status, "stderr": err})
        if status is not None and status < 0:
            status = 128 - status
        detail = f" (exit status {status})" if status is not None else ""
        message = f"quillon-cli serve ended{detail}" + (f": {last}" if last else "")
        return ServerGoneError(message, {"status": status, "stderr": err})

    def close(self, wait: float = CLOSE_WAIT_S) -> None:  # type: ignore[override]
        """End the server as end of input does: its running request completes, the port
        closes. After ``wait`` seconds SIGTERM, then SIGKILL."""
        stdin = self.process.stdin
        try:
            if stdin and not stdin.closed:
                stdin.close()
        except OSError:
            pass
        for sig, limit in ((None, wait), (signal.SIGTERM, TERM_WAIT_S),
                           (signal.SIGKILL, None)):
            if sig is not None and self.process.poll() is None:
                self.process.send_signal(sig)
            try:
                self.process.wait(limit)
                break
            except subprocess.TimeoutExpired:
                continue
        self.join(TERM_WAIT_S)
        self._stderr_thread.join(TERM_WAIT_S)
        for pipe in (self.process.stdout, self.process.stderr):
            if pipe:
                pipe.close()


class SocketConnection(Connection):
    """A client of ``quillon-cli serve --socket PATH``."""

    def __init__(self, path: str, on_notification: NotificationHandler) -> None:
        self.path = path
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            self.sock.connect(os.fspath(path))
        except OSError as e:
            self.sock.close()
            raise ServerGoneError(f"cannot connect to {path}: {e.strerror or e}") from e
        self._file = self.sock.makefile("rb")
        super().__init__(self._file, self.sock.sendall, on_notification, "socket")
        self.start()

    def close(self) -> None:
        """Leave the server: our queued requests are dropped, a running one completes."""
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.join(TERM_WAIT_S)
        self._file.close()
        self.sock.close()


