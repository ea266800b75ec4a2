"""The libraries' statuses as exceptions.

Every Korvel and Dremor function that answers a status (0 for success)
raises, through this package, a :class:`DaqError` for any other status. The
exception carries the status, the text below, the library and the C function
that answered it; its class says what happened, so callers catch what they
can handle::

    try:
        session = dremor.open()
    except DriverNotFound:          # status 1 of either library
        ...

Status  Korvel (korvel.h)             Dremor (dremor.h)
------  ----------------------------  -------------------------------------
1       DriverNotFound                DriverNotFound
2                                     DriverVersionError
3       NoBoard
4       NoBoardRecorded
5       BoardRange                    AdTimeout
6                                     NoBoardRecorded
13                                    BoardRange
14                                    NoBoard
17                                    OutOfMemory
101                                   InterruptDeviceMissing
110                                   InterruptRequestFailed
111                                   InstallIrqFailed

A status neither header lists raises DaqError itself.
"""
from __future__ import annotations

from typing import Dict, Optional, Tuple, Type

__all__ = [
    "DaqError", "DriverNotFound", "NoBoard", "NoBoardRecorded", "BoardRange",
    "DriverVersionError", "AdTimeout", "OutOfMemory", "InterruptDriverError",
    "InterruptDeviceMissing", "InterruptRequestFailed", "InstallIrqFailed",
    "AcquisitionStalled", "LibraryNotFound", "status_text", "error_for",
]


class DaqError(Exception):
    """A library function answered a status other than 0.

    Attributes: ``status`` (the 16-bit status), ``text`` (what it means),
    ``library`` ("Korvel" or "Dremor") and ``function`` (the C function,
    e.g. "VARNO_AdPolling").
    """

    def __init__(self, status: int, text: str, library: str = "", function: str = "") -> None:
        super().__init__(status, text)
        self.status = status
        self.text = text
        self.library = library
        self.function = function

    def __str__(self) -> str:
        where = f"{self.function}: " if self.function else ""
        return f"{where}status {self.status}: {self.text}"


class DriverNotFound(DaqError):
    """Status 1: the port-access driver "\\\\.\\kelvra" cannot be opened (on
    Linux: the kernel refused port access, the process lacks CAP_SYS_RAWIO)."""


class NoBoard(DaqError):
    """The driver's scan found no board (Korvel 3, Dremor 14)."""


class NoBoardRecorded(NoBoard):
    """No board recorded yet, and none could be found now (Korvel 4, Dremor 6)."""


class BoardRange(DaqError):
    """No such board (Korvel 5, Dremor 13). For Dremor's operations on the
    active board also: no board selected, or port access not held."""


class DriverVersionError(DaqError):
    """Dremor 2: the interrupt driver did not answer the version request."""


class AdTimeout(DaqError):
    """Dremor 5: the A/D converter did not finish a conversion in time."""


class OutOfMemory(DaqError):
    """Dremor 17: a temporary buffer could not be allocated."""


class InterruptDriverError(DaqError):
    """A failure of the board's interrupt driver (Dremor 101, 110, 111)."""


class InterruptDeviceMissing(InterruptDriverError):
    """Dremor 101: the board's interrupt device cannot be opened."""


class InterruptRequestFailed(InterruptDriverError):
    """Dremor 110: a request to the interrupt driver failed. A fetch of
    background samples also fails so when the driver's buffer overran: the
    stream would have a gap, and is never handed over with one."""


class InstallIrqFailed(InterruptDriverError):
    """Dremor 111: the driver refused a request of VARNO_InstallIrq (on Linux
    there is no interrupt driver: background acquisition answers this)."""


class AcquisitionStalled(TimeoutError):
    """No new sample of a background acquisition arrived within its
    ``stall_timeout`` (not a library status: the interrupt count stopped)."""


class LibraryNotFound(OSError):
    """The Korvel or Dremor library file could not be found or loaded."""


_NO_PORT_DRIVER = ('cannot open the port-access driver "\\\\.\\kelvra": it is not installed or '
                   "refused access (on Linux: the process lacks CAP_SYS_RAWIO)")

# The one table: (library, status) -> (class, text). The texts say what the
# headers korvel.h and dremor.h say each status means.
_STATUSES: Dict[Tuple[str, int], Tuple[Type[DaqError], str]] = {
    ("Korvel", 1): (DriverNotFound, _NO_PORT_DRIVER),
    ("Korvel", 3): (NoBoard, "no KORVEL or LUMAR board was found on the PCI bus"),
    ("Korvel", 4): (NoBoardRecorded, "no relay board has been found yet, and none could be found now "
                                     "(none on the bus, or no port access)"),
    ("Korvel", 5): (BoardRange, "there is no relay board with that number"),
    ("Dremor", 1): (DriverNotFound, _NO_PORT_DRIVER),
    ("Dremor", 2): (DriverVersionError, "the interrupt driver did not answer the version request"),
    ("Dremor", 5): (AdTimeout, "the A/D converter did not finish a conversion in time "
                               "(is the pacer running? is the divisor too large?)"),
    ("Dremor", 6): (NoBoardRecorded, "no multifunction board has been found yet, and none could be "
                                     "found now (none on the bus, or no port access)"),
    ("Dremor", 13): (BoardRange, "no such multifunction board: the board number is not below the "
                                 "board count, no board is selected, or port access is not held"),
    ("Dremor", 14): (NoBoard, "no multifunction board was found on the PCI bus"),
    ("Dremor", 17): (OutOfMemory, "a temporary sample buffer could not be allocated"),
    ("Dremor", 101): (InterruptDeviceMissing, 'the board\'s interrupt driver ("\\\\.\\VARNOn") '
                                              "cannot be opened: it is not installed, or in use"),
    ("Dremor", 110): (InterruptRequestFailed, "a request to the interrupt driver failed (for a fetch: "
                                              "fewer samples held than asked, e.g. after an overrun)"),
    ("Dremor", 111): (InstallIrqFailed, "the interrupt driver refused the board's interrupt resources "
                                        "(there is none on Linux)"),
}


def status_text(library: str, status: int) -> str:
    """What `status` of `library` ("Korvel" or "Dremor") means."""
    if status == 0:
        return "success"
    entry = _STATUSES.get((library, status))
    return entry[1] if entry else f"unexpected status {status} from {library}"


def error_for(library: str, status: int, function: str = "") -> DaqError:
    """The exception for a non-zero `status` that `function` of `library` answered."""
    cls = _STATUSES.get((library, status), (DaqError, ""))[0]
    return cls(status, status_text(library, status), library, function)


def check(library: str, function: str, status: int) -> None:
    """Raises the exception for `status` unless it is 0."""
    if status != 0:
        raise error_for(library, status, function)
