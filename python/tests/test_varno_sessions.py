"""Dremor sessions from Python: selection, digital port, statuses, stopping and closing
(scenarios/signals.json: board 0 with digital inputs 0xC3A5; board 1 with a counter
clock of 1 kHz, too slow for any pacer block)."""
import ctypes
import time

import pytest

from daqboards import AdTimeout, BoardRange
from waves import SIGNALS

pytestmark = pytest.mark.bench(SIGNALS)


@pytest.fixture
def session(dremor):
    with dremor.open() as s:
        yield s


def test_the_digital_port_round_trips(session, bench):
    board = session.select(0)
    assert board.dio.read() == 0xC3A5
    for pattern in (0xA55A, 0xFFFF, 0x0000, 0x8001):
        board.dio.write(pattern)
        assert bench.DaqSimDigitalOutputs(0) == pattern
    bench.DaqSimSetDigitalInputs(0, 0x0FF0)
    try:
        assert board.dio.read() == 0x0FF0
    finally:
        bench.DaqSimSetDigitalInputs(0, 0xC3A5)


@pytest.mark.parametrize("operation, error", [
    (lambda b: b.dio.write(0x10000), ValueError),
    (lambda b: b.timer(3, 100), ValueError),
    (lambda b: b.timer(1, 65536), ValueError),
    (lambda b: b.configure(16, 0), ValueError),
    (lambda b: b.configure(0, 0x10000), ValueError),
    (lambda b: b.pacer_block(0, 400), ValueError),
    (lambda b: b.pacer_block(65536, 400), ValueError),
    (lambda b: b.read_volts(1.5), TypeError),
    (lambda b: b.background(0, 0, 400, block=0), ValueError),
])
def test_bad_arguments_are_refused_before_any_port_access(session, bench, operation, error):
    board = session.select(0)
    before = bench.DaqSimPortAccessCount()
    with pytest.raises(error):
        operation(board)
    assert bench.DaqSimPortAccessCount() == before


def test_statuses_of_conversions_and_selection_raise_their_exceptions(session):
    board = session.select(0)
    with pytest.raises(BoardRange) as raised:
        session.select(2)
    assert (raised.value.status, raised.value.function) == (13, "VARNO_ActiveBoard")
    assert session.selected is board
    board.dio.read()  # still the active board
    slow = session.select(1)
    slow.configure(0, 0)
    with pytest.raises(AdTimeout) as raised:
        slow.pacer_block(1, 0)  # one conversion every 65536 clocks of 1 kHz
    assert (raised.value.status, raised.value.function) == (5, "VARNO_AdsPacer")
    with pytest.raises(RuntimeError, match="no longer the active board"):
        board.dio.read()


def interrupt_count(session):
    n = ctypes.c_uint32()
    assert session.library.VARNO_GetIntCount(ctypes.byref(n)) == 0
    return n.value


def test_leaving_an_acquisition_stops_it_even_on_an_exception(session):
    board = session.select(0)
    with pytest.raises(KeyError):
        with board.background(0, 0, 400, block=100) as acquisition:
            next(acquisition)
            raise KeyError
    assert not acquisition.running
    acquisition.stop()
    stopped_at = interrupt_count(session)
    time.sleep(0.05)
    assert interrupt_count(session) == stopped_at
    with pytest.raises(StopIteration):
        next(acquisition)
    with board.background(0, 0, 400, block=100, count=100) as again:
        assert [b.size for b in again] == [100]


def test_closing_is_idempotent_and_stops_a_running_acquisition(dremor, bench):
    session = dremor.open()
    board = session.select(0)
    acquisition = board.background(0, 0, 400).start()
    assert bench.DaqSimOpenHandles() == 2  # the interrupt device and the port-access driver
    session.close()
    session.close()
    assert session.closed and not acquisition.running and bench.DaqSimOpenHandles() == 0
    acquisition.stop()
    for operation in (board.dio.read, lambda: session.select(0), lambda: acquisition.read(1)):
        with pytest.raises(ValueError):
            operation()
    with dremor.open() as again:
        assert len(again) == 2
    assert bench.DaqSimOpenHandles() == 0
