"""Both libraries from Python on the bench they build when no scenario is named: a
KORVEL board (inputs 0x0F0F) and a LUMAR board (0xA5); multifunction boards with
digital inputs 0x00F1 and 0xBEEF, the first with 1.25 V on channel 2."""
import pytest

pytestmark = pytest.mark.bench("builtin")


def test_the_relay_boards_and_their_inputs(korvel, bench):
    with korvel.open() as relays:
        assert [(b.model, b.read_inputs()) for b in relays.boards] == [("KORVEL", 0x0F0F), ("LUMAR", 0xA5)]
        relays[1].write(0x42)
        assert (relays[1].relays, bench.DaqSimRelayOutputs(1)) == (0x42, 0x42)


def test_the_multifunction_boards_and_a_steady_input(dremor):
    with dremor.open() as session:
        assert [session.select(n).dio.read() for n in range(len(session))] == [0x00F1, 0xBEEF]
        board = session.select(0)
        board.configure(2, 0)  # +-10 V
        assert board.read_codes() == 2048 + 256
        assert board.read_volts() == 1.25


def test_the_readme_example_runs(tmp_path):
    import os
    import re
    import subprocess
    import sys

    from conftest import PYTHON_DIR, REPO, library_dir
    readme = (REPO / "README.md").read_text()
    example = re.search(r"^## Python\n.*?^```python\n(.*?)^```", readme, re.S | re.M).group(1)
    env = dict(os.environ, DAQ_LIBRARY_DIR=str(library_dir()), PYTHONPATH=str(PYTHON_DIR / "src"))
    env.pop("DAQSIM_SCENARIO", None)
    shown = subprocess.run([sys.executable, "-c", example], env=env, cwd=tmp_path, check=True,
                           capture_output=True, text=True, timeout=60).stdout.splitlines()
    assert shown[0] == "0xf0f 0xff" and len(shown) == 11  # inputs and relays, then ten blocks
