"""Measuring the waveforms the tests acquire (numpy only)."""
import numpy as np

SIGNALS = "python/tests/scenarios/signals.json"
COUNTER_CLOCK_HZ = 4_000_000  # the bench's counter clock unless a scenario sets another


def crossing_period(samples):
    """The median interval, in samples, between rising crossings of the
    mean: robust to a sample lost here and there."""
    x = np.asarray(samples, dtype=np.float64)
    x = x - (x.max() + x.min()) / 2
    i = np.nonzero((x[:-1] < 0) & (x[1:] >= 0))[0]
    crossings = i + x[i] / (x[i] - x[i + 1])  # linear interpolation
    return float(np.median(np.diff(crossings)))


def sine_residuals(samples, rate, frequency):
    """What is left of `samples` after the least-squares sine of `frequency`
    at `rate` samples per second (any amplitude, phase and offset) is taken
    away; a lost, repeated or reordered sample leaves a large residual."""
    x = np.asarray(samples, dtype=np.float64)
    t = np.arange(x.size) / rate
    basis = np.column_stack([np.sin(2 * np.pi * frequency * t), np.cos(2 * np.pi * frequency * t),
                             np.ones_like(t)])
    coefficients, *_ = np.linalg.lstsq(basis, x, rcond=None)
    return x - basis @ coefficients, float(np.hypot(coefficients[0], coefficients[1]))
