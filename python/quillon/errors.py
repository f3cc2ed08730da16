"""The exceptions a request can raise.

Every error the server answers becomes a :class:`QuillonError` carrying the server's
``code``, its one-line ``message`` (the same text quillon-cli prints) and its ``data``
(transaction reports, mismatches, problems, a range, a prompt), as the server sent it.
The codes 1 to 6 are quillon-cli's exit statuses and have a subclass each; the protocol's
own codes (-32700 to -32600) raise :class:`ProtocolError`.
"""

from __future__ import annotations

from typing import Any, Dict, List, Optional, Type

from .reports import Mismatch, Problem, Transaction


class QuillonError(Exception):
    """An error answered by the server (or, for :class:`ServerGoneError`, its absence)."""

    def __init__(self, code: int, message: str, data: Any = None) -> None:
        super().__init__(message)
        self.code = code
        self.message = message
        self.data = data

    def __str__(self) -> str:
        return self.message

    def __repr__(self) -> str:
        return f"{type(self).__name__}({self.code!r}, {self.message!r}, {self.data!r})"

    def copy(self) -> "QuillonError":
        """The same error as a new object (one to raise in each waiting thread)."""
        twin = type(self).__new__(type(self))
        twin.__dict__.update(self.__dict__)
        twin.args = self.args
        return twin

    def _items(self, key: str) -> List[Dict[str, Any]]:
        if isinstance(self.data, dict) and isinstance(self.data.get(key), list):
            return self.data[key]
        return []

    @property
    def transactions(self) -> List[Transaction]:
        """The transaction reports in ``data`` (errors 4 and 5), else an empty list."""
        return [Transaction.from_json(t) for t in self._items("transactions")]

    @property
    def mismatches(self) -> List[Mismatch]:
        """The verify mismatches in ``data`` (error 6 from ``load``), else an empty list."""
        return [Mismatch.from_json(m) for m in self._items("mismatches")]

    @property
    def problems(self) -> List[Problem]:
        """The definition problems in ``data`` (error 6 from ``check``), else an empty list."""
        return [Problem.from_json(p) for p in self._items("problems")]


class UsageError(QuillonError):
    """Code 1: a wrong request: unknown name, value out of range, missing confirmation."""


class FileError(QuillonError):
    """Code 2: a file cannot be used (read, written or parsed)."""


class PortError(QuillonError):
    """Code 3: the port cannot be opened or is not open."""


class TransactionError(QuillonError):
    """Code 4: a transaction failed (timeout, send failure), was cancelled or the device was
    lost; ``transactions`` holds the reports."""


class ReplyCodeError(QuillonError):
    """Code 5: the camera answered a reply code other than OK; ``transactions`` holds the
    reports, the last one with the reply code."""


class VerifyError(QuillonError):
    """Code 6: a verify mismatch (``mismatches``) or a definition problem (``problems``)."""


class ProtocolError(QuillonError):
    """The protocol's own errors (codes -32700 to -32600): a request the server could not
    read. With this package it means a bug on one side or the other."""


class ServerGoneError(ProtocolError, ConnectionError):
    """The server went away (exited, was killed, closed the socket) or was never reached.

    Every call waiting for an answer raises it; so does every later call. ``code`` is
    -32000; ``data`` holds ``{"status": exit status or None, "stderr": the server's last
    error output}`` when the server was started by this package.
    """

    CODE = -32000

    def __init__(self, message: str, data: Any = None) -> None:
        super().__init__(self.CODE, message, data)


_BY_CODE: Dict[int, Type[QuillonError]] = {
    1: UsageError,
    2: FileError,
    3: PortError,
    4: TransactionError,
    5: ReplyCodeError,
    6: VerifyError,
}


def error_for(code: int, message: str, data: Any = None) -> QuillonError:
    """The exception of an error answer: the subclass for ``code``."""
    cls: Optional[Type[QuillonError]] = _BY_CODE.get(code)
    if cls is None:
        cls = ProtocolError if -32768 <= code <= -32000 else QuillonError
    return cls(code, message, data)
