"""Dremor's conversions from Python on the tests' bench (scenarios/signals.json:
board 0 has a 3 V 125 Hz sine on channel 0 and steady inputs on channels 1-6)."""
import numpy as np
import pytest

from waves import COUNTER_CLOCK_HZ, SIGNALS, crossing_period, sine_residuals

pytestmark = pytest.mark.bench(SIGNALS)

SINE_VOLTS, SINE_HZ = 3.0, 125.0


@pytest.fixture(scope="module")
def board(dremor):
    with dremor.open() as session:
        yield session.select(0)


def expected_volts(code, full_scale):
    """(code - 2048) / 2048 x full scale, exact, rounded once to single precision."""
    return np.float32((code - 2048) / 2048 * float(np.float32(full_scale)))


# (configuration code, its full scale, channel, the code its steady input reads)
STEADY = [
    (0, 10.0, 1, 2248), (16, 10.0, 2, 1853), (17, 1.0, 2, 100), (2, 2.5, 1, 2849), (3, 1.25, 1, 3650),
    (18, 0.1, 3, 3891), (17, 1.0, 3, 2232), (19, 0.01, 4, 2867), (1, 5.0, 5, 2867),
    (1, 5.0, 6, 4095),   # 7.5 V beyond +-5 V
    (18, 0.1, 2, 0),     # -0.951 V beyond +-0.1 V
]


@pytest.mark.parametrize("range_code, full_scale, channel, code", STEADY)
def test_polled_readings_of_steady_inputs(dremor, board, range_code, full_scale, channel, code):
    board.configure(channel, range_code)
    assert board.read_codes() == code
    assert list(board.read_codes(3)) == [code] * 3
    volts = expected_volts(code, full_scale)
    assert board.read_volts() == volts
    series = board.read_volts(4)
    assert series.dtype == np.float32 and list(series) == [volts] * 4
    # The package's own table converts as the library does.
    assert dremor.volts_from_codes([code], range_code)[0] == volts


def test_a_code_without_a_range_reads_as_nan_and_codes_still_come(board):
    board.configure(1, 7)
    assert np.isnan(board.read_volts())
    assert 0 <= board.read_codes() <= 4095


@pytest.mark.parametrize("raw", [False, True])
def test_a_pacer_block_of_the_sine_has_its_frequency_and_amplitude(dremor, board, raw):
    divisor, count = 1900, 500  # 2105 samples per second, not a multiple of the sine's frequency
    board.configure(0, 1)       # +-5 V
    block = board.pacer_block(count, divisor, raw=raw)
    assert block.dtype == (np.uint16 if raw else np.float32) and block.size == count
    volts = dremor.volts_from_codes(block, 1) if raw else block
    rate = COUNTER_CLOCK_HZ / divisor
    assert rate / crossing_period(volts) == pytest.approx(SINE_HZ, rel=0.02)
    assert (volts.max() - volts.min()) / 2 == pytest.approx(SINE_VOLTS, rel=0.01)
    assert (volts.max() + volts.min()) / 2 == pytest.approx(0.0, abs=0.015)


@pytest.mark.parametrize("raw", [False, True])
def test_a_background_acquisition_returns_every_sample_in_order(board, raw):
    divisor, count, block = 400, 2000, 250  # 10 kS/s for 0.2 s
    step = 5.0 / 2048                       # one code of +-5 V
    with board.background(0, 1, divisor, block=block, count=count, raw=raw) as acquisition:
        blocks = list(acquisition)
        assert not acquisition.running
    assert [b.size for b in blocks] == [block] * (count // block)
    assert {b.dtype for b in blocks} == {np.dtype(np.uint16 if raw else np.float32)}
    samples = np.concatenate(blocks)
    residuals, amplitude = sine_residuals(samples, COUNTER_CLOCK_HZ / divisor, SINE_HZ)
    if raw:
        residuals, amplitude = residuals * step, amplitude * step
    assert amplitude == pytest.approx(SINE_VOLTS, rel=0.01)
    assert np.abs(residuals).max() < 2 * step

