"""Statuses raise their exceptions, on benches that provoke them; a failed open
leaves no driver open and no session claimed."""
import time

import pytest

from daqboards import (DriverNotFound, DriverVersionError, InstallIrqFailed, InterruptDeviceMissing,
                       InterruptRequestFailed, NoBoard)

NO_DRIVER = "tools/scenarios/no_driver.json"      # boards, but no "\\.\kelvra"
EMPTY = "python/tests/scenarios/empty.json"       # no board (so no interrupt driver either)
LINUX_RELAYS = "python/tests/scenarios/linux_relays_only.json"  # Linux, a KORVEL board only
LINUX_HOST = "tools/scenarios/linux_host.json"    # Linux, a KORVEL and a VARNO board (digital inputs 0x1234)
SMALL_FIFO = "tools/scenarios/small_fifo.json"    # a VARNO board whose driver holds 1000 samples


def open_fails(module, bench, error, status):
    for _ in range(2):  # the second try finds no session claimed and no driver held
        with pytest.raises(error) as raised:
            module.open()
        assert (raised.value.status, bench.DaqSimOpenHandles()) == (status, 0)
    return raised.value


@pytest.mark.bench(NO_DRIVER)
@pytest.mark.parametrize("library, function", [("korvel", "PCI_DriverInit"), ("dremor", "VARNO_DriverInit")])
def test_without_the_port_access_driver_opening_raises_driver_not_found(request, bench, library, function):
    error = open_fails(request.getfixturevalue(library), bench, DriverNotFound, 1)
    assert error.function == function and "kelvra" in error.text


@pytest.mark.bench(EMPTY)
def test_on_a_bench_without_boards_opening_raises(korvel, dremor, bench):
    open_fails(korvel, bench, NoBoard, 3)
    open_fails(dremor, bench, InterruptDeviceMissing, 101)  # Windows: the driver comes with a board


@pytest.mark.bench(LINUX_RELAYS)
def test_on_linux_without_a_multifunction_board_dremor_finds_none(korvel, dremor, bench):
    open_fails(dremor, bench, NoBoard, 14)
    with korvel.open() as relays:
        relays[0].write(0x0101)
        assert (relays[0].relays, relays[0].read_inputs(), bench.DaqSimRelayOutputs(0)) == (0x0101, 0x0001, 0x0101)


@pytest.mark.bench(LINUX_HOST)
def test_on_linux_background_acquisition_raises_and_ports_work(dremor, bench):
    with dremor.open() as session:
        board = session.select(0)
        assert board.dio.read() == 0x1234
        assert board.pacer_block(10, 400).size == 10
        acquisition = board.background(0, 0, 400)
        with pytest.raises(InstallIrqFailed) as raised:
            acquisition.start()
        assert (raised.value.status, raised.value.function) == (111, "VARNO_InstallIrq")
        assert not acquisition.running
        with pytest.raises(DriverVersionError):
            session.driver_version
    assert bench.DaqSimOpenHandles() == 0


@pytest.mark.bench(SMALL_FIFO)
def test_an_overrun_raises_instead_of_handing_over_a_gap(dremor):
    with dremor.open() as session:
        board = session.select(0)
        with board.background(0, 0, 400, block=500) as acquisition:  # 10 kS/s
            time.sleep(0.3)  # 3000 samples for a buffer of 1000
            with pytest.raises(InterruptRequestFailed) as raised:
                next(acquisition)
            assert raised.value.function == "VARNO_GetFloatBuffer" and acquisition.fetched == 0
        assert not acquisition.running
