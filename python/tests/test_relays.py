"""Korvel from Python on the tests' bench (scenarios/signals.json: a KORVEL board,
inputs 0x8421, and a LUMAR board, inputs 0x5A)."""
import pytest

from daqboards import BoardRange
from waves import SIGNALS

pytestmark = pytest.mark.bench(SIGNALS)


def test_the_boards_are_found_in_scan_order(korvel):
    with korvel.open() as relays:
        assert [(b.number, b.model, b.width) for b in relays.boards] == [(0, "KORVEL", 16), (1, "LUMAR", 8)]
        assert len({b.block for b in relays.boards}) == 2


@pytest.mark.parametrize("number, inputs, patterns, new_inputs", [
    (0, 0x8421, [0x8001, 0xFFFF, 0x0000, 0x5AA5], 0x1234),
    (1, 0x5A, [0x81, 0xFF, 0x00, 0x3C], 0xC3),
])
def test_relays_and_inputs_round_trip(korvel, bench, number, inputs, patterns, new_inputs):
    with korvel.open() as relays:
        board = relays[number]
        assert board.read_inputs() == inputs
        for pattern in patterns:
            board.write(pattern)
            assert (bench.DaqSimRelayOutputs(number), board.relays) == (pattern, pattern)
        bench.DaqSimSetRelayInputs(number, new_inputs)
        try:
            assert board.read_inputs() == new_inputs
        finally:
            bench.DaqSimSetRelayInputs(number, inputs)


@pytest.mark.parametrize("number, pattern, error", [
    (0, 0x10000, ValueError), (1, 0x100, ValueError), (0, -1, ValueError), (0, 1.0, TypeError),
    (1, True, TypeError),
])
def test_a_pattern_too_wide_is_refused_before_any_port_access(korvel, bench, number, pattern, error):
    with korvel.open() as relays:
        relays[number].write(0x0F)
        before = bench.DaqSimPortAccessCount()
        with pytest.raises(error):
            relays[number].write(pattern)
        assert bench.DaqSimPortAccessCount() == before and bench.DaqSimRelayOutputs(number) == 0x0F


def test_the_active_board_number_is_recorded_and_checked(korvel):
    with korvel.open() as relays:
        relays.active_board = 1
        with pytest.raises(BoardRange) as raised:
            relays.active_board = 2
        assert raised.value.status == 5 and raised.value.function == "PCI_ActiveBoard"
        assert relays.active_board == 1


def test_closing_is_idempotent_and_final(korvel, bench):
    relays = korvel.open()
    board = relays[0]
    assert bench.DaqSimOpenHandles() == 1
    relays.close()
    relays.close()
    assert relays.closed and bench.DaqSimOpenHandles() == 0
    for operation in (lambda: board.write(1), board.read_inputs, lambda: board.relays):
        with pytest.raises(ValueError, match="closed"):
            operation()
    with korvel.open() as again:
        assert len(again) == 2
    assert bench.DaqSimOpenHandles() == 0


def test_the_with_block_closes_on_an_exception_and_one_session_is_open_at_a_time(korvel, bench):
    with pytest.raises(KeyError):
        with korvel.open() as relays:
            with pytest.raises(RuntimeError, match="already open"):
                korvel.open()
            raise KeyError
    assert relays.closed and bench.DaqSimOpenHandles() == 0
