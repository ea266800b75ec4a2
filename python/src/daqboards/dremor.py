"""Dremor: the VARNO multifunction board (12-bit A/D converter with input
ranges, 16-bit digital port, 8254 timer, interrupt-driven acquisition).

::

    from daqboards import dremor

    with dremor.open() as daq:                         # VARNO_DriverInit ... VARNO_DriverClose
        board = daq.select(0)                          # VARNO_ActiveBoard
        board.dio.write(0x00FF)                        # VARNO_Do
        board.configure(2, 1)                          # VARNO_SetChannelConfig: channel 2, +-5 V
        print(board.read_volts())                      # VARNO_AdPolling
        block = board.pacer_block(1000, 400)           # VARNO_AdsPacer: float32 volts
        with board.background(0, 0, 400, block=500) as acq:   # VARNO_InstallIrq, VARNO_INT_AdStart
            for samples in acq:                        # VARNO_GetIntCount, VARNO_GetFloatBuffer
                ...                                    # (VARNO_INT_AdStop on leaving)

Every status other than 0 raises a :class:`daqboards.errors.DaqError`
subclass. The library is found as :mod:`daqboards._library` says
(``library=`` path, ``DREMOR_LIBRARY``, ``DAQ_LIBRARY_DIR``, then the
system's search).

Volts come back as ``numpy.float32`` arrays, codes (12 bits, 0-4095, offset
binary: 2048 is 0 V) as ``numpy.uint16`` arrays. ``RANGES`` mirrors the
library's range table (``VARNO_RANGE_TABLE`` of dremor/varno_board_map.h):
configuration code -> full scale in volts.

On Linux there is no interrupt driver: background acquisition raises
InstallIrqFailed (111) there; and port access is granted per thread, so
make the calls from the thread that opened the session or from threads it
starts afterwards.
"""
from __future__ import annotations

import time
from ctypes import POINTER, byref, c_float, c_int, c_short, c_uint8, c_uint16, c_uint32, c_void_p
from typing import Any, Iterator, List, Optional, Tuple, Union

import numpy as np

from . import _library
from .errors import AcquisitionStalled, check

__all__ = ["open", "load", "VarnoBoards", "BoardInfo", "Board", "DigitalPort", "BackgroundAcquisition",
           "RANGES", "volts_from_codes", "dll_version"]

LIBRARY = "Dremor"

# Configuration code -> full scale (volts) of its input range: a copy of
# VARNO_RANGE_TABLE (varno_board_map.h), the values as the library's
# single-precision constants.
RANGES = {
    0: 10.0, 1: 5.0, 2: 2.5, 3: 1.25,
    16: 10.0, 17: 1.0, 18: 0.1, 19: 0.01,
}
CHANNELS = 16
MID_SCALE = 2048
CODE_MASK = 0x0FFF
# Largest count of one pacer-clocked block or polled series (a 16-bit argument).
MAX_BLOCK = 0xFFFF

_u16p = POINTER(c_uint16)
_f32p = POINTER(c_float)
SIGNATURES = {
    "VARNO_DriverInit": (c_uint16, [_u16p]),
    "VARNO_GetConfigAddressSpace": (c_uint16, [c_uint16, _u16p, _u16p, _u16p]),
    "VARNO_ActiveBoard": (c_uint16, [c_uint16]),
    "VARNO_WhichBoardActive": (c_uint16, []),
    "VARNO_GetIrqNo": (c_uint16, [_u16p]),
    "VARNO_GetDriverVersion": (c_uint16, [_u16p]),
    "VARNO_DriverClose": (c_int, []),
    "VARNO_SetupTimer": (None, [c_uint16, c_uint16]),
    "VARNO_Do": (None, [c_uint16]),
    "VARNO_Di": (c_uint16, [_u16p]),
    "VARNO_SetChannelConfig": (c_uint16, [c_uint8, c_uint16]),
    "VARNO_AdPolling": (c_uint16, [_f32p]),
    "VARNO_AdsPolling": (c_uint16, [_f32p, c_uint16]),
    "VARNO_Polling": (c_uint16, [_u16p]),
    "VARNO_AdsPacer": (c_uint16, [_f32p, c_uint16, c_uint16]),
    "VARNO_AdsPacerHex": (c_uint16, [_u16p, c_uint16, c_uint16]),
    "VARNO_InstallIrq": (c_uint16, [c_void_p, c_uint32]),
    "VARNO_INT_AdStart": (c_uint16, [c_uint8, c_uint16, c_uint16]),
    "VARNO_INT_AdStop": (c_uint16, []),
    "VARNO_GetIntCount": (c_uint16, [POINTER(c_uint32)]),
    "VARNO_GetBuffer": (c_uint16, [c_uint32, _u16p]),
    "VARNO_GetFloatBuffer": (c_uint16, [c_uint32, _f32p]),
    "VARNO_GetDllVersion": (c_uint16, []),
    "VARNO_FloatSub": (c_float, [c_float, c_float]),
    "VARNO_ShortSub": (c_short, [c_short, c_short]),
}


_BINDING = _library.Binding(LIBRARY, SIGNATURES, "VARNO_GetDllVersion")
# load(library=None): the Dremor library (ctypes), every export with its C
# signature. dll_version(library=None): its version, 0x0300 for 3.00.
load = _BINDING.load
dll_version = _BINDING.dll_version


def volts_from_codes(codes: Any, range_code: int) -> np.ndarray:
    """12-bit codes (bits 12-15 are ignored) in volts under configuration
    code `range_code`, as the library converts: (code - 2048) / 2048 x full
    scale, computed exactly and rounded once to float32. Raises ValueError
    for a code without a range (see RANGES)."""
    if range_code not in RANGES:
        raise ValueError(f"configuration code {range_code} has no input range (codes: {sorted(RANGES)})")
    full_scale = float(np.float32(RANGES[range_code]))
    c = np.asarray(codes, dtype=np.int64) & CODE_MASK
    # A 12-bit numerator times a 24-bit mantissa is exact in double precision.
    return ((c - MID_SCALE) * full_scale / MID_SCALE).astype(np.float32)


def open(library: Optional[str] = None) -> "VarnoBoards":
    """Opens the drivers and finds the multifunction boards (calls
    VARNO_DriverInit: the interrupt device of the active board, then the
    port-access driver, then the scan).

    Raises InterruptDeviceMissing (101), DriverNotFound (1) or NoBoard
    (14); what a failed init left open is closed before raising. One session per process
    at a time."""
    return VarnoBoards(load(library))


class BoardInfo:
    """A board found by the scan: ``number``, ``io_base`` (the board block),
    ``dio_port`` and ``ad_port`` (VARNO_GetConfigAddressSpace)."""

    def __init__(self, number: int, io_base: int, dio_port: int, ad_port: int) -> None:
        self.number = number
        self.io_base = io_base
        self.dio_port = dio_port
        self.ad_port = ad_port

    def __repr__(self) -> str:
        return f"<BoardInfo {self.number}: IoBase 0x{self.io_base:04X}>"


class VarnoBoards(_library.Session):
    """A Dremor session: the drivers held and the boards found.

    A context manager; ``close()`` stops a background acquisition still
    running, then calls VARNO_DriverClose; it may be called any number of
    times. ``boards`` lists the boards found (BoardInfo); ``select(n)``
    makes one the active board and returns it to be driven."""

    _library_name = LIBRARY

    def __init__(self, lib: Any) -> None:
        super().__init__(lib)
        self._selected: Optional[Board] = None
        self._acquisition: Optional[BackgroundAcquisition] = None
        self._claim()
        try:
            count = c_uint16()
            status = lib.VARNO_DriverInit(byref(count))
            if status != 0:  # a failed init may hold a device (14: both; 1: the interrupt device)
                lib.VARNO_DriverClose()
            check(LIBRARY, "VARNO_DriverInit", status)
            self.boards: Tuple[BoardInfo, ...] = tuple(self._info(n) for n in range(count.value))
        except BaseException:
            self._abandon()
            raise

    def _info(self, number: int) -> BoardInfo:
        io, dio, ad = c_uint16(), c_uint16(), c_uint16()
        check(LIBRARY, "VARNO_GetConfigAddressSpace",
              self._lib.VARNO_GetConfigAddressSpace(number, byref(io), byref(dio), byref(ad)))
        return BoardInfo(number, io.value, dio.value, ad.value)

    def _close(self) -> None:
        try:
            if self._acquisition is not None:
                self._acquisition.stop()
        finally:
            self._selected = None
            self._lib.VARNO_DriverClose()

    def __len__(self) -> int:
        return len(self.boards)

    def select(self, number: int) -> "Board":
        """Makes board `number` the active board and returns it (calls
        VARNO_ActiveBoard: resets the board, re-opens the interrupt device
        of the new board, pauses 100 ms on Windows). Boards returned before
        refuse operations afterwards: the library drives one board at a
        time. Raises BoardRange (13) or InterruptDeviceMissing (101; the
        board is active and reset all the same)."""
        self._check_open()
        number = _library.checked_int("board number", number, 0, 0xFFFF)
        if self._acquisition is not None:
            raise RuntimeError("a background acquisition is running: stop it before selecting a board")
        status = self._lib.VARNO_ActiveBoard(number)
        if status in (0, 101):  # 101: active all the same
            self._selected = Board(self, number)
        check(LIBRARY, "VARNO_ActiveBoard", status)
        return self._selected

    @property
    def selected(self) -> Optional["Board"]:
        """The board last returned by select(), None before."""
        return self._selected

    @property
    def driver_version(self) -> int:
        """The interrupt driver's version (VARNO_GetDriverVersion); raises
        DriverVersionError (2) when the driver cannot be asked."""
        self._check_open()
        version = c_uint16()
        check(LIBRARY, "VARNO_GetDriverVersion", self._lib.VARNO_GetDriverVersion(byref(version)))
        return version.value


def _volts_pointer(a: np.ndarray) -> Any:
    return a.ctypes.data_as(_f32p)


def _codes_pointer(a: np.ndarray) -> Any:
    return a.ctypes.data_as(_u16p)


class DigitalPort:
    """The board's 16-bit digital port."""

    def __init__(self, board: "Board") -> None:
        self._board = board

    def write(self, pattern: int) -> None:
        """Sets the 16 outputs (VARNO_Do)."""
        lib = self._board._lib()
        lib.VARNO_Do(_library.checked_int("output pattern", pattern, 0, 0xFFFF))

    def read(self) -> int:
        """The 16 inputs (VARNO_Di)."""
        lib = self._board._lib()
        pattern = c_uint16()
        check(LIBRARY, "VARNO_Di", lib.VARNO_Di(byref(pattern)))
        return pattern.value


class Board:
    """The active board of a session (returned by VarnoBoards.select).

    ``number``, ``irq`` (its interrupt line, VARNO_GetIrqNo), ``dio`` (the
    digital port); ``channel`` and ``range_code``: what configure() or a
    background acquisition last selected here (None before)."""

    def __init__(self, session: VarnoBoards, number: int) -> None:
        self._session = session
        self.number = number
        irq = c_uint16()
        check(LIBRARY, "VARNO_GetIrqNo", session.library.VARNO_GetIrqNo(byref(irq)))
        self.irq = irq.value
        self.dio = DigitalPort(self)
        self.channel: Optional[int] = None
        self.range_code: Optional[int] = None

    def __repr__(self) -> str:
        return f"<Board {self.number}: irq {self.irq}>"

    def _lib(self) -> Any:
        s = self._session
        s._check_open()
        if s._selected is not self:
            raise RuntimeError(f"board {self.number} is no longer the active board: select it again")
        return s.library

    def timer(self, counter: int, divisor: int) -> None:
        """Loads 8254 counter `counter` (0-2) with `divisor` in mode 2, one
        output pulse every `divisor` counter clocks (0 meaning 65536)
        (VARNO_SetupTimer). Counter 0 paces the A/D converter and counter 2
        times the settling wait: counter 1 is the application's."""
        lib = self._lib()
        counter = _library.checked_int("counter", counter, 0, 2)
        lib.VARNO_SetupTimer(counter, _library.checked_int("divisor", divisor, 0, 0xFFFF))

    def configure(self, channel: int, range_code: int) -> None:
        """Selects A/D input `channel` (0-15) and configuration code
        `range_code` (see RANGES; other codes give NaN volts), then waits for
        the input to settle (VARNO_SetChannelConfig)."""
        lib = self._lib()
        channel = _library.checked_int("channel", channel, 0, CHANNELS - 1)
        range_code = _library.checked_int("configuration code", range_code, 0, 0xFFFF)
        check(LIBRARY, "VARNO_SetChannelConfig", lib.VARNO_SetChannelConfig(channel, range_code))
        self.channel, self.range_code = channel, range_code

    def read_volts(self, count: Optional[int] = None) -> Union[float, np.ndarray]:
        """One software-triggered conversion in volts (VARNO_AdPolling), or
        with `count`, that many as a float32 array (VARNO_AdsPolling).
        Raises AdTimeout (5)."""
        lib = self._lib()
        if count is None:
            volts = c_float()
            check(LIBRARY, "VARNO_AdPolling", lib.VARNO_AdPolling(byref(volts)))
            return volts.value
        out = np.zeros(_library.checked_int("count", count, 0, MAX_BLOCK), dtype=np.float32)
        check(LIBRARY, "VARNO_AdsPolling", lib.VARNO_AdsPolling(_volts_pointer(out), out.size))
        return out

    def read_codes(self, count: Optional[int] = None) -> Union[int, np.ndarray]:
        """One software-triggered conversion's 12-bit code (VARNO_Polling),
        or with `count`, that many as a uint16 array (VARNO_Polling each).
        Raises AdTimeout (5)."""
        lib = self._lib()
        n = 1 if count is None else _library.checked_int("count", count, 0, MAX_BLOCK)
        out = np.zeros(n, dtype=np.uint16)
        code = c_uint16()
        for i in range(n):
            check(LIBRARY, "VARNO_Polling", lib.VARNO_Polling(byref(code)))
            out[i] = code.value
        return int(out[0]) if count is None else out

    def pacer_block(self, count: int, divisor: int, raw: bool = False) -> np.ndarray:
        """`count` (1-65535) conversions paced by counter 0 at one per
        `divisor` counter clocks (0 meaning 65536), on the channel and range
        configured: float32 volts (VARNO_AdsPacer) or, with raw=True,
        uint16 codes (VARNO_AdsPacerHex). Raises AdTimeout (5) when a
        conversion does not come (the pacer is then left running)."""
        lib = self._lib()
        count = _library.checked_int("count", count, 1, MAX_BLOCK)
        divisor = _library.checked_int("divisor", divisor, 0, 0xFFFF)
        if raw:
            codes = np.zeros(count, dtype=np.uint16)
            check(LIBRARY, "VARNO_AdsPacerHex", lib.VARNO_AdsPacerHex(_codes_pointer(codes), count, divisor))
            return codes
        volts = np.zeros(count, dtype=np.float32)
        check(LIBRARY, "VARNO_AdsPacer", lib.VARNO_AdsPacer(_volts_pointer(volts), count, divisor))
        return volts

    def background(self, channel: int, range_code: int, divisor: int, block: int = 1000,
                   count: Optional[int] = None, raw: bool = False, poll_interval: float = 0.005,
                   stall_timeout: Optional[float] = 2.0, user_param: int = 0) -> "BackgroundAcquisition":
        """An interrupt-driven acquisition of `channel` under `range_code`,
        one conversion per `divisor` counter clocks, handed out in blocks of
        `block` samples (float32 volts, or uint16 codes with raw=True); with
        `count`, it stops after that many samples. Started on entering the
        ``with`` block (or on first iteration, or start()), stopped on
        leaving it: see BackgroundAcquisition."""
        return BackgroundAcquisition(self, channel, range_code, divisor, block, count, raw, poll_interval,
                                     stall_timeout, user_param)


class BackgroundAcquisition:
    """A background acquisition: the board's interrupt driver samples while
    the application does something else; the samples come out in order,
    none lost, none twice.

    ``start()`` calls VARNO_InstallIrq and VARNO_INT_AdStart; iterating
    yields blocks, ``read(n)`` returns exactly n samples, waiting for them;
    ``stop()`` calls VARNO_INT_AdStop. Leaving the ``with`` block stops it
    always, as does closing the session; stop() may be called any number of
    times, and a stopped acquisition does not start again.

    Every sample the driver has counted is fetched at once (VARNO_GetIntCount,
    then VARNO_GetFloatBuffer, or VARNO_GetBuffer with raw=True) and kept
    here until handed out: when the driver's buffer overran, holding fewer
    samples than it counted, that fetch fails with InterruptRequestFailed
    (110) and nothing after the gap is ever handed out. Waiting raises
    AcquisitionStalled when no sample arrives within `stall_timeout`
    seconds (None: wait for ever)."""

    def __init__(self, board: Board, channel: int, range_code: int, divisor: int, block: int,
                 count: Optional[int], raw: bool, poll_interval: float, stall_timeout: Optional[float],
                 user_param: int) -> None:
        self._board = board
        self.channel = _library.checked_int("channel", channel, 0, CHANNELS - 1)
        self.range_code = _library.checked_int("configuration code", range_code, 0, 0xFFFF)
        self.divisor = _library.checked_int("divisor", divisor, 0, 0xFFFF)
        self.block = _library.checked_int("block", block, 1, 0x7FFFFFFF)
        self.count = None if count is None else _library.checked_int("count", count, 0, 2**63 - 1)
        self.raw = raw
        self.poll_interval = poll_interval
        self.stall_timeout = stall_timeout
        self._user_param = _library.checked_int("user_param", user_param, 0, 0xFFFFFFFF)
        self._user_value = c_uint32(0)  # the 4 bytes VARNO_InstallIrq hands the driver
        self._state = "new"  # then "running", then "stopped"
        self._base = 0       # the interrupt count when the acquisition started
        self._drained = 0    # samples fetched from the driver
        self._pending = np.zeros(0, dtype=np.uint16 if raw else np.float32)  # fetched, not handed out
        self.fetched = 0     # samples handed out

    @property
    def running(self) -> bool:
        return self._state == "running"

    def start(self) -> "BackgroundAcquisition":
        """Hands the driver the board (VARNO_InstallIrq) and starts the
        pacer (VARNO_INT_AdStart). Does nothing while running."""
        if self._state == "running":
            return self
        if self._state == "stopped":
            raise RuntimeError("this acquisition has stopped: start a new one")
        session = self._board._session
        lib = self._board._lib()
        if session._acquisition is not None:
            raise RuntimeError("another background acquisition is running on this session")
        check(LIBRARY, "VARNO_InstallIrq", lib.VARNO_InstallIrq(byref(self._user_value), self._user_param))
        self._base = self._interrupts(lib)
        check(LIBRARY, "VARNO_INT_AdStart", lib.VARNO_INT_AdStart(self.channel, self.range_code, self.divisor))
        self._state = "running"
        session._acquisition = self
        self._board.channel, self._board.range_code = self.channel, self.range_code
        return self

    def stop(self) -> None:
        """Parks the pacer and tells the driver to stop (VARNO_INT_AdStop).
        Calling it again does nothing. Raises InterruptRequestFailed (110)
        when the driver did not take the stop (the pacer is parked)."""
        if self._state != "running":
            return
        self._state = "stopped"
        session = self._board._session
        if session._acquisition is self:
            session._acquisition = None
        check(LIBRARY, "VARNO_INT_AdStop", session.library.VARNO_INT_AdStop())

    def _interrupts(self, lib: Any) -> int:
        n = c_uint32()
        check(LIBRARY, "VARNO_GetIntCount", lib.VARNO_GetIntCount(byref(n)))
        return n.value

    def _drain(self) -> int:
        """Fetches every sample counted and not yet fetched; how many."""
        if self._state != "running":
            raise ValueError("the acquisition is not running")
        lib = self._board._lib()
        n = (self._interrupts(lib) - self._base - self._drained) % (1 << 32)
        if n == 0:
            return 0
        if self.raw:
            fresh = np.zeros(n, dtype=np.uint16)
            check(LIBRARY, "VARNO_GetBuffer", lib.VARNO_GetBuffer(n, _codes_pointer(fresh)))
            fresh &= CODE_MASK
        else:
            fresh = np.zeros(n, dtype=np.float32)
            check(LIBRARY, "VARNO_GetFloatBuffer", lib.VARNO_GetFloatBuffer(n, _volts_pointer(fresh)))
        self._drained += n
        self._pending = np.concatenate([self._pending, fresh])
        return n

    def available(self) -> int:
        """Samples that read() can hand out now without waiting."""
        self._drain()
        return self._pending.size

    def read(self, n: int) -> np.ndarray:
        """The next `n` samples, waiting for them: float32 volts (converted
        under the acquisition's range code) or, with raw=True, uint16 codes
        (the driver's words with bits 12-15 cleared)."""
        n = _library.checked_int("sample count", n, 0, 0x7FFFFFFF)
        if self._state == "new":
            self.start()
        waited_since = time.monotonic()
        while self._pending.size < n:
            if self._drain():
                waited_since = time.monotonic()
                continue
            if self.stall_timeout is not None and time.monotonic() - waited_since > self.stall_timeout:
                raise AcquisitionStalled(f"no new sample in {self.stall_timeout} s: "
                                         f"{self.fetched + self._pending.size} arrived, "
                                         f"{self.fetched + n} awaited")
            time.sleep(self.poll_interval)
        out, self._pending = self._pending[:n], self._pending[n:]
        self.fetched += n
        return out

    def __iter__(self) -> Iterator[np.ndarray]:
        self.start()
        return self

    def __next__(self) -> np.ndarray:
        if self.count is not None and self.fetched >= self.count:
            self.stop()
            raise StopIteration
        if self._state == "stopped":
            raise StopIteration
        n = self.block if self.count is None else min(self.block, self.count - self.fetched)
        samples = self.read(n)
        if self.count is not None and self.fetched >= self.count:
            self.stop()
        return samples

    def __enter__(self) -> "BackgroundAcquisition":
        return self.start()

    def __exit__(self, exc_type: Any, *exc: object) -> None:
        if exc_type is None:
            self.stop()
            return
        try:
            self.stop()
        except Exception:
            pass  # the exception already leaving the block says more
