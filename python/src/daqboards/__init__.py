"""Python bindings (ctypes) of the Korvel and Dremor driver libraries.

``daqboards.korvel`` drives the KORVEL and LUMAR relay boards,
``daqboards.dremor`` the VARNO multifunction board. Statuses raise the
exceptions of ``daqboards.errors``; where the libraries are found is told in
``daqboards._library`` (``library=`` path, ``KORVEL_LIBRARY`` /
``DREMOR_LIBRARY``, ``DAQ_LIBRARY_DIR``, then the system's search).
"""
from . import dremor, errors, korvel
from .errors import (AcquisitionStalled, AdTimeout, BoardRange, DaqError, DriverNotFound,
                     DriverVersionError, InstallIrqFailed, InterruptDeviceMissing, InterruptDriverError,
                     InterruptRequestFailed, LibraryNotFound, NoBoard, NoBoardRecorded, OutOfMemory)

__version__ = "0.1.0"

__all__ = ["korvel", "dremor", "errors", "DaqError", "DriverNotFound", "NoBoard", "NoBoardRecorded",
           "BoardRange", "DriverVersionError", "AdTimeout", "OutOfMemory", "InterruptDriverError",
           "InterruptDeviceMissing", "InterruptRequestFailed", "InstallIrqFailed", "AcquisitionStalled",
           "LibraryNotFound", "__version__"]
