"""quillon: industrial cameras from Python, through ``quillon-cli serve``.

    import quillon

    with quillon.open("/dev/ttyUSB0", definition="auto") as cam:
        print(cam.identify())
        cam.set(Gain=120)
        print(cam["Gain"])

:func:`open` starts a server of its own for one camera; :func:`connect` joins a
``quillon-cli serve --socket PATH`` others share. Errors raise :class:`QuillonError`
subclasses named after quillon-cli's exit statuses.
"""

from .camera import Camera, Watch, connect, find_cli, open
from .errors import (FileError, PortError, ProtocolError, QuillonError, ReplyCodeError,
                     ServerGoneError, TransactionError, UsageError, VerifyError)
from .reports import (Identity, Interface, LoadResult, Mismatch, OpenInfo, Port, PortLost,
                      PortReturned, Ports, Problem, Progress, Property, Round, SaveResult,
                      SetReports, Traffic, Transaction, Value)

__all__ = [
    "Camera", "Watch", "connect", "find_cli", "open",
    "QuillonError", "UsageError", "FileError", "PortError", "TransactionError",
    "ReplyCodeError", "VerifyError", "ProtocolError", "ServerGoneError",
    "Identity", "Interface", "LoadResult", "Mismatch", "OpenInfo", "Port", "PortLost",
    "PortReturned", "Ports", "Problem", "Progress", "Property", "Round", "SaveResult", "SetReports",
    "Traffic", "Transaction", "Value",
]
