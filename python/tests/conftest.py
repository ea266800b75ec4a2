"""How the Python tests run.

The libraries' simulated builds take their bench from DAQSIM_SCENARIO once,
at their first call: one process, one bench. So every test that drives the
libraries names its bench with a marker, ``@pytest.mark.bench(NAME)`` (a
scenario file relative to the repository, or "builtin" for the bench the
libraries build when DAQSIM_SCENARIO is unset), and one pytest run takes one
bench::

    pytest python/tests                                   # builtin, and the tests without a bench
    pytest python/tests --bench tools/scenarios/no_driver.json

CTest runs one pytest per bench (python/CMakeLists.txt lists them; a test
here checks that the list is complete).

The libraries come from DAQ_LIBRARY_DIR (CTest sets it), else from the
linux-sim build of this tree; they must be simulated builds (linked to the
bench), and nothing else is ever loaded: KORVEL_LIBRARY and DREMOR_LIBRARY
are ignored here.
"""
import ctypes
import os
import sys
from pathlib import Path

import pytest

PYTHON_DIR = Path(__file__).resolve().parents[1]
REPO = PYTHON_DIR.parent
sys.path.insert(0, str(PYTHON_DIR / "src"))
BUILTIN = "builtin"


def pytest_addoption(parser):
    parser.addoption("--bench", default=BUILTIN,
                     help="the bench of this run: a scenario file (relative to the repository) or 'builtin'")


def _bench_of(item):
    marker = item.get_closest_marker("bench")
    return marker.args[0] if marker else None


def pytest_collection_modifyitems(config, items):
    bench = config.getoption("--bench")
    config.daq_benches_used = {b for b in map(_bench_of, items) if b}
    keep, drop = [], []
    for item in items:
        b = _bench_of(item)
        (keep if b == bench or (b is None and bench == BUILTIN) else drop).append(item)
    if drop:
        config.hook.pytest_deselected(items=drop)
        items[:] = keep


def pytest_configure(config):
    bench = config.getoption("--bench")
    os.environ.pop("KORVEL_LIBRARY", None)
    os.environ.pop("DREMOR_LIBRARY", None)
    if bench == BUILTIN:
        os.environ.pop("DAQSIM_SCENARIO", None)
    else:
        path = REPO / bench
        if not path.is_file():
            raise pytest.UsageError(f"--bench {bench}: no such scenario file under {REPO}")
        os.environ["DAQSIM_SCENARIO"] = str(path)
    directory = os.environ.get("DAQ_LIBRARY_DIR") or str(REPO / "build" / "linux-sim" / "lib")
    os.environ["DAQ_LIBRARY_DIR"] = directory


def library_dir():
    """The folder of the simulated libraries, checked to be simulated builds."""
    directory = Path(os.environ["DAQ_LIBRARY_DIR"])
    for name in ("libKorvel.so", "libDremor.so"):
        path = directory / name
        if not path.is_file():
            pytest.fail(f"{path} is missing: build the linux-sim preset, or set DAQ_LIBRARY_DIR")
        if b"libdaqsim.so" not in path.read_bytes():
            pytest.fail(f"{path} is not a simulated build: the tests never load a hardware build")
    return directory


class Bench:
    """The bench of this process through its C API (sim/include/daqsim/daqsim.h):
    bench.DaqSimRelayOutputs(0), bench.DaqSimFaultCount(), ..."""

    _SIGNATURES = {
        "DaqSimRelayOutputs": (ctypes.c_int32, [ctypes.c_int32]),
        "DaqSimSetRelayInputs": (ctypes.c_int32, [ctypes.c_int32, ctypes.c_uint32]),
        "DaqSimDigitalOutputs": (ctypes.c_int32, [ctypes.c_int32]),
        "DaqSimSetDigitalInputs": (ctypes.c_int32, [ctypes.c_int32, ctypes.c_uint32]),
        "DaqSimPortAccessCount": (ctypes.c_uint64, []),
        "DaqSimFaultCount": (ctypes.c_uint64, []),
        "DaqSimOpenHandles": (ctypes.c_uint32, []),
    }

    def __init__(self, path):
        lib = ctypes.CDLL(str(path))
        for name, (restype, argtypes) in self._SIGNATURES.items():
            f = getattr(lib, name)
            f.restype, f.argtypes = restype, argtypes
            setattr(self, name, f)


@pytest.fixture(scope="session")
def bench():
    return Bench(library_dir() / "libdaqsim.so")


@pytest.fixture(autouse=True)
def _no_port_faults(request):
    """A test on a bench leaves no port access made without port access
    (on a real machine it would have killed the application)."""
    if _bench_of(request.node) is None:
        yield
        return
    b = request.getfixturevalue("bench")
    before = b.DaqSimFaultCount()
    yield
    assert b.DaqSimFaultCount() == before, "port accesses were made without port access"


@pytest.fixture(scope="session")
def korvel():
    from daqboards import korvel
    library_dir()
    return korvel


@pytest.fixture(scope="session")
def dremor():
    from daqboards import dremor
    library_dir()
    return dremor
