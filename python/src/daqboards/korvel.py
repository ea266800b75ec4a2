"""Korvel: the KORVEL (16 relays, 16 inputs) and LUMAR (8 and 8) relay boards.

::

    from daqboards import korvel

    with korvel.open() as relays:              # PCI_DriverInit ... PCI_DriverClose
        for board in relays.boards:            # PCI_GetConfigAddressSpace
            print(board.number, board.model, hex(board.block))
        board = relays.boards[0]
        board.write(0x00FF)                    # KORVEL_DO / LUMAR_DO: relays 0-7 on
        print(hex(board.relays))               # the relay states, read back
        print(hex(board.read_inputs()))        # KORVEL_DI / LUMAR_DI

Every status other than 0 raises a :class:`daqboards.errors.DaqError`
subclass. The library is found as :mod:`daqboards._library` says
(``library=`` path, ``KORVEL_LIBRARY``, ``DAQ_LIBRARY_DIR``, then the
system's search). The register offsets below are those of the boards'
register map, korvel/relay_board_map.h.
"""
from __future__ import annotations

from ctypes import POINTER, byref, c_float, c_int, c_short, c_uint8, c_uint16
from typing import Any, Optional, Tuple

from . import _library
from .errors import check

__all__ = ["open", "load", "RelayBoards", "RelayBoard", "dll_version", "driver_version",
           "KORVEL", "LUMAR"]

LIBRARY = "Korvel"

# Model codes (BoardKind) of PCI_GetConfigAddressSpace.
KORVEL = 0
LUMAR = 1
_MODELS = {KORVEL: "KORVEL", LUMAR: "LUMAR"}

# The board block is BAR2; its registers (relay_board_map.h).
_BLOCK_BAR = 2
_OUTPUT_OFFSET = 0x00
_INPUT_OFFSET = {KORVEL: 0x02, LUMAR: 0x01}
_WIDTH = {KORVEL: 16, LUMAR: 8}
_NO_ACTIVE_BOARD = 100

_u16p = POINTER(c_uint16)
SIGNATURES = {
    "PCI_DriverInit": (c_uint16, [_u16p]),
    "PCI_GetConfigAddressSpace": (c_uint16, [c_uint16] + [_u16p] * 7),
    "PCI_ActiveBoard": (c_uint16, [c_uint16]),
    "PCI_WhichBoardActive": (c_uint16, []),
    "PCI_DriverClose": (c_int, []),
    "KORVEL_DO": (None, [c_uint16, c_uint16]),
    "KORVEL_DI": (c_uint16, [c_uint16]),
    "LUMAR_DO": (None, [c_uint16, c_uint8]),
    "LUMAR_DI": (c_uint8, [c_uint16]),
    "PCI_GetDllVersion": (c_uint16, []),
    "PCI_GetDriverVersion": (c_uint16, [_u16p]),
    "PCI_FloatSub2": (c_float, [c_float, c_float]),
    "PCI_ShortSub2": (c_short, [c_short, c_short]),
}


_BINDING = _library.Binding(LIBRARY, SIGNATURES, "PCI_GetDllVersion")
# load(library=None): the Korvel library (ctypes), every export with its C
# signature. dll_version(library=None): its version, 0x0201 for 2.01.
load = _BINDING.load
dll_version = _BINDING.dll_version


def driver_version(library: Optional[str] = None) -> int:
    """The driver version the library reports (it does not ask the
    driver). Calls PCI_GetDriverVersion."""
    version = c_uint16()
    check(LIBRARY, "PCI_GetDriverVersion", load(library).PCI_GetDriverVersion(byref(version)))
    return version.value


def open(library: Optional[str] = None) -> "RelayBoards":
    """Opens the port-access driver and finds the relay boards (calls
    PCI_DriverInit, then PCI_GetConfigAddressSpace for each board).

    Raises DriverNotFound (status 1) or NoBoard (3; the driver is closed
    again before raising). One session per process at a time."""
    return RelayBoards(load(library))


class RelayBoards(_library.Session):
    """A Korvel session: the port-access driver held and the boards found.

    A context manager; ``close()`` (PCI_DriverClose) is called on leaving
    it and may be called any number of times; the board objects refuse I/O
    afterwards. ``boards`` lists the boards in the library's numbering (the
    driver's scan order); ``session[n]`` is ``session.boards[n]``."""

    _library_name = LIBRARY

    def __init__(self, lib: Any) -> None:
        super().__init__(lib)
        self._claim()
        try:
            count = c_uint16()
            status = lib.PCI_DriverInit(byref(count))
            if status != 0:  # 3: the driver is held even though no board was found
                lib.PCI_DriverClose()
            check(LIBRARY, "PCI_DriverInit", status)
            self.boards: Tuple[RelayBoard, ...] = tuple(RelayBoard(self, n) for n in range(count.value))
        except BaseException:
            self._abandon()
            raise

    def _close(self) -> None:
        self._lib.PCI_DriverClose()

    def __len__(self) -> int:
        return len(self.boards)

    def __getitem__(self, number: int) -> "RelayBoard":
        return self.boards[number]

    @property
    def active_board(self) -> Optional[int]:
        """The board number last recorded as active, None before any
        (PCI_WhichBoardActive). Setting it calls PCI_ActiveBoard, which
        raises BoardRange (5) for a number not below the board count. The
        library records the number and nothing else uses it."""
        self._check_open()
        n = int(self._lib.PCI_WhichBoardActive())
        return None if n == _NO_ACTIVE_BOARD else n

    @active_board.setter
    def active_board(self, number: int) -> None:
        self._check_open()
        number = _library.checked_int("board number", number, 0, 0xFFFF)
        check(LIBRARY, "PCI_ActiveBoard", self._lib.PCI_ActiveBoard(number))


class RelayBoard:
    """One relay board of a session.

    ``number``: the library's board number; ``model``: "KORVEL" or "LUMAR";
    ``kind``: the model code (0, 1); ``bases``: the six base words BAR0-BAR5
    (PCI_GetConfigAddressSpace); ``block``: the board block (BAR2), where
    the relay outputs (offset 0) and the inputs (offset 2 on KORVEL, 1 on
    LUMAR) are; ``width``: relays and inputs, 16 or 8."""

    def __init__(self, session: RelayBoards, number: int) -> None:
        self._session = session
        lib = session.library
        kind = c_uint16()
        words = [c_uint16() for _ in range(6)]
        check(LIBRARY, "PCI_GetConfigAddressSpace",
              lib.PCI_GetConfigAddressSpace(number, byref(kind), *(byref(w) for w in words)))
        if kind.value not in _MODELS:
            raise ValueError(f"relay board {number} reports an unknown model code {kind.value}")
        self.number = number
        self.kind = kind.value
        self.model = _MODELS[kind.value]
        self.bases: Tuple[int, ...] = tuple(w.value for w in words)
        self.block = self.bases[_BLOCK_BAR]
        self.width = _WIDTH[self.kind]
        self.output_port = (self.block + _OUTPUT_OFFSET) & 0xFFFF
        self.input_port = (self.block + _INPUT_OFFSET[self.kind]) & 0xFFFF

    def __repr__(self) -> str:
        return f"<RelayBoard {self.number}: {self.model}, block 0x{self.block:04X}>"

    def write(self, pattern: int) -> None:
        """Sets the relays: bit n set energises relay n (KORVEL_DO, or
        LUMAR_DO on a LUMAR board, at the output register)."""
        self._session._check_open()
        pattern = _library.checked_int("relay pattern", pattern, 0, (1 << self.width) - 1)
        if self.kind == KORVEL:
            self._session.library.KORVEL_DO(self.output_port, pattern)
        else:
            self._session.library.LUMAR_DO(self.output_port, pattern)

    def _read(self, port: int) -> int:
        self._session._check_open()
        lib = self._session.library
        return int(lib.KORVEL_DI(port) if self.kind == KORVEL else lib.LUMAR_DI(port))

    def read_inputs(self) -> int:
        """The input pattern (KORVEL_DI or LUMAR_DI at the input register)."""
        return self._read(self.input_port)

    @property
    def relays(self) -> int:
        """The relay states, read back through the output register
        (KORVEL_DI or LUMAR_DI at the output register)."""
        return self._read(self.output_port)
