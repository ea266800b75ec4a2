"""Both libraries from Python on the bench they build when no scenario is named: a
KORVEL board (inputs 0x0F0F) and a LUMAR board (0xA5); multifunction boards with
digital inputs 0x00F1 and 0xBEEF, the first with 1.25 V on channel 2."""
import pytest

pytestmark = pytest.mark.bench("builtin")


def test_the_relay_boards_and_their_inputs(korvel, bench):
    with korvel.open() as relays:
        assert [(b.model, b.read_inputs()) for b in relays.boards] == [("KORVEL", 0x0F0F), ("LUMAR", 0xA5)]
        relays[1].write(0x42)
        assert (relays[1].relays, bench.relay_outputs(1)) == (0x42, 0x42)


def test_the_multifunction_boards_and_a_steady_input(dremor):
    with dremor.open() as session:
        assert [session.select(n).dio.read() for n in range(len(session))] == [0x00F1, 0xBEEF]
        board = session.select(0)
        board.configure(2, 0)  # +-10 V
        assert board.read_codes() == 2048 + 256
        assert board.read_volts() == 1.25
