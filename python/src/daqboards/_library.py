"""Finding and loading the driver libraries; what both bindings share.

Where a library is found, first match wins:

1. the path passed as ``library=`` (to ``open``, ``load`` or the version
   functions);
2. the environment variable ``KORVEL_LIBRARY`` or ``DREMOR_LIBRARY``: the
   library file itself;
3. the environment variable ``DAQ_LIBRARY_DIR``: a folder holding the
   library under its usual file name (``libKorvel.so`` / ``Korvel.dll``);
4. the system's search: ``ctypes.util.find_library("Korvel")`` (Linux: the
   loader cache and ``LD_LIBRARY_PATH``; Windows: ``PATH``), then the loader's
   own search for the file names ``libKorvel.so.0`` and ``libKorvel.so``
   (Linux) or ``Korvel.dll`` (Windows).

On 32-bit Windows Python the DLLs are loaded with ``ctypes.WinDLL`` (their
exports are stdcall); everywhere else with ``ctypes.CDLL``. Each library
file is loaded once per process and its functions get their exact C
signatures (every argument one 32-bit slot, of which the header's width is
used).
"""
from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import threading
import weakref
from typing import Any, Callable, Dict, Optional, Sequence, Tuple

from .errors import LibraryNotFound

# Major version of the libraries' shared-object names (libKorvel.so.0).
SONAME_MAJOR = 0

WINDOWS = os.name == "nt"
STDCALL = WINDOWS and ctypes.sizeof(ctypes.c_void_p) == 4

Signature = Tuple[Any, Sequence[Any]]


def file_name(name: str) -> str:
    """The library's file name on this system: Korvel.dll or libKorvel.so."""
    return f"{name}.dll" if WINDOWS else f"lib{name}.so"


def candidates(name: str, library: Optional[str] = None,
               environ: Optional[Dict[str, str]] = None) -> Tuple[str, list]:
    """Where library `name` is looked for, in order: (how it was chosen,
    [paths or names to try])."""
    env = os.environ if environ is None else environ
    if library:
        return "the path given", [os.fspath(library)]
    variable = f"{name.upper()}_LIBRARY"
    if env.get(variable):
        return variable, [env[variable]]
    if env.get("DAQ_LIBRARY_DIR"):
        return "DAQ_LIBRARY_DIR", [os.path.join(env["DAQ_LIBRARY_DIR"], file_name(name))]
    found = ctypes.util.find_library(name)
    names = [found] if found else []
    if WINDOWS:
        names.append(file_name(name))
    else:
        names += [f"lib{name}.so.{SONAME_MAJOR}", f"lib{name}.so"]
    return "the system's search", names


_loaded: Dict[Tuple[str, str], Any] = {}
_load_lock = threading.Lock()


def load(name: str, signatures: Dict[str, Signature], library: Optional[str] = None,
         loader: Optional[Callable[[str], Any]] = None) -> Any:
    """Loads library `name` (found as the module docstring says) and gives
    every function of `signatures` its restype and argtypes. Raises
    LibraryNotFound when no candidate loads or the file lacks a function."""
    how, names = candidates(name, library)
    if loader is None:
        loader = ctypes.WinDLL if STDCALL else ctypes.CDLL  # type: ignore[attr-defined]
    with _load_lock:
        errors = []
        for candidate in names:
            key = (name, candidate)
            if key in _loaded:
                return _loaded[key]
            try:
                lib = loader(candidate)
            except OSError as e:
                errors.append(f"{candidate}: {e}")
                continue
            for function, (restype, argtypes) in signatures.items():
                try:
                    f = getattr(lib, function)
                except AttributeError:
                    raise LibraryNotFound(f"{candidate} is not a {name} library: it has no {function}") from None
                f.restype = restype
                f.argtypes = list(argtypes)
            _loaded[key] = lib
            return lib
    hint = ""
    if WINDOWS and not STDCALL:
        hint = f" ({name}.dll is a 32-bit DLL: use a 32-bit Python)"
    tried = "; ".join(errors) if errors else "nothing found"
    raise LibraryNotFound(f"cannot load the {name} library (looked up through {how}: {tried}){hint}. "
                          f"Pass library=PATH, or set {name.upper()}_LIBRARY or DAQ_LIBRARY_DIR.")


class Binding:
    """One library as its binding module sees it: the name, every export
    with its C signature, and the export that reports the library's
    version. The modules' ``load`` and ``dll_version`` are its methods."""

    def __init__(self, name: str, signatures: Dict[str, Signature], version_export: str) -> None:
        self.name = name
        self.signatures = signatures
        self.version_export = version_export

    def load(self, library: Optional[str] = None) -> Any:
        """The library (ctypes), every export with its C signature."""
        return load(self.name, self.signatures, library)

    def dll_version(self, library: Optional[str] = None) -> int:
        """The library's version as its version export reports it, e.g.
        0x0300 for 3.00."""
        return int(getattr(self.load(library), self.version_export)())


def checked_int(what: str, value: int, low: int, high: int) -> int:
    """`value` as an int within [low, high]; ctypes would silently cut a
    larger one to the slot's width, so it is refused here."""
    if isinstance(value, bool) or not hasattr(value, "__index__"):
        raise TypeError(f"{what} must be an integer, not {type(value).__name__}")
    value = value.__index__()
    if not low <= value <= high:
        raise ValueError(f"{what} must be {low}..{high} (0x{high:X}), not {value}")
    return value


class Session:
    """What the driver sessions of both libraries share: a context manager
    that always closes, at most one open session per library and process
    (the libraries keep one state per process), and a close that may be
    called any number of times."""

    _library_name = ""
    # Weak: a session dropped without close() is closed when collected.
    _open: "weakref.WeakValueDictionary[str, Session]" = weakref.WeakValueDictionary()
    _open_lock = threading.Lock()

    def __init__(self, lib: Any) -> None:
        self._lib = lib
        self._closed = True

    def _claim(self) -> None:
        with Session._open_lock:
            other = Session._open.get(self._library_name)
            if other is not None:
                raise RuntimeError(f"a {self._library_name} session is already open in this process: "
                                   "close it first (the library keeps one state per process)")
            Session._open[self._library_name] = self
            self._closed = False

    def _abandon(self) -> None:
        """For a constructor that failed after _claim: nothing to close."""
        self._closed = True
        self._release()

    def _release(self) -> None:
        with Session._open_lock:
            if Session._open.get(self._library_name) is self:
                del Session._open[self._library_name]

    @property
    def library(self) -> Any:
        """The loaded ctypes library, every function with its C signature."""
        return self._lib

    @property
    def closed(self) -> bool:
        return self._closed

    def close(self) -> None:
        """Closes the session's drivers (PCI_DriverClose, VARNO_DriverClose).
        Calling it again does nothing."""
        if self._closed:
            return
        self._closed = True
        try:
            self._close()
        finally:
            self._release()

    def _close(self) -> None:
        raise NotImplementedError

    def _check_open(self) -> None:
        if self._closed:
            raise ValueError(f"operation on a closed {self._library_name} session")

    def __enter__(self):
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:
            pass
