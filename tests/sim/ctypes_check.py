"""A test of an application written in Python: the simulated Korvel drives
the relays, the bench's C interface (daqsim.h) checks them, through ctypes.
The bench comes from DAQSIM_SCENARIO (relay_rack.json: four relay boards).

    python3 ctypes_check.py LIBDIR
"""
import ctypes
import json
import os
import sys
import tempfile

lib = sys.argv[1]
korvel = ctypes.CDLL(os.path.join(lib, "libKorvel.so"))
bench = ctypes.CDLL(os.path.join(lib, "libdaqsim.so"))
bench.DaqSimFaultCount.restype = ctypes.c_uint64
bench.DaqSimPortAccessCount.restype = ctypes.c_uint64
bench.DaqSimWriteReport.argtypes = [ctypes.c_char_p]


class Fault(ctypes.Structure):
    _fields_ = [("port", ctypes.c_uint32), ("width", ctypes.c_uint32), ("write", ctypes.c_uint32),
                ("value", ctypes.c_uint32), ("timeNs", ctypes.c_uint64)]


failures = []
checks = 0


def check(what, got, want):
    global checks
    checks += 1
    if got != want:
        failures.append(f"{what}: {got!r}, want {want!r}")


count = ctypes.c_ushort(0)
check("PCI_DriverInit", korvel.PCI_DriverInit(ctypes.byref(count)), 0)
check("boards", count.value, 4)
kind = ctypes.c_ushort(0)
bases = (ctypes.c_ushort * 6)()
check("PCI_GetConfigAddressSpace",
      korvel.PCI_GetConfigAddressSpace(0, ctypes.byref(kind), *[ctypes.byref(bases, 2 * i) for i in range(6)]), 0)
check("model of board 0", kind.value, 0)
korvel.KORVEL_DO(bases[2], 0x00FF)            # the KORVEL board's relays sit at the start of its block
check("relays of board 0", bench.DaqSimRelayOutputs(0), 0x00FF)
check("relays by slot", bench.DaqSimRelayOutputsAt(0, 8, 0), 0x00FF)
check("a board that is not there", bench.DaqSimRelayOutputs(4), -1)
check("inputs set", bench.DaqSimSetRelayInputs(0, 0x1234), 0)
check("inputs read", korvel.KORVEL_DI(bases[2] + 2) & 0xFFFF, 0x1234)
check("faults", bench.DaqSimFaultCount(), 0)
fault = Fault()
check("last fault", bench.DaqSimLastFault(ctypes.byref(fault)), 0)
korvel.PCI_DriverClose()
check("handles", bench.DaqSimOpenHandles(), 0)

with tempfile.TemporaryDirectory() as folder:
    path = os.path.join(folder, "report.json")
    check("report written", bench.DaqSimWriteReport(path.encode()), 0)
    with open(path) as f:
        report = json.load(f)
check("report: accesses", report["port_accesses"], bench.DaqSimPortAccessCount())
check("report: board 0", report["relay_boards"][0]["outputs"], 0x00FF)

for f in failures:
    print("FAILED", f)
print(f"{checks - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
