#!/usr/bin/env python3
"""daqctl panel streaming a 100 kS/s background acquisition to a page for
10 s, in Debian's chromium (headless): the page's chart draws per second,
the display frames it received and lost, the server's CPU (user + system
time of the daqctl process over the run, from /proc), and the recording
checked sample by sample: every index from 0 on, none missing, as many as
the acquisition fetched.

  bench/panel_stream_bench.py --daqctl build/linux-sim/bin/daqctl [--seconds 10] [--divisor 40]

The bench's counter clock is 4 MHz: divisor 40 paces 100 kHz. Exit status 1
when a sample is lost to the file.
"""
import argparse
import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "tools"))
from panel_browser import Panel, fail, read_recording, start_browser, wait_until  # noqa: E402


def cpu_seconds(pid):
    """User + system time of process `pid` so far."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    return (int(fields[11]) + int(fields[12])) / ticks  # utime, stime


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--daqctl", required=True)
    parser.add_argument("--seconds", type=float, default=10.0)
    parser.add_argument("--divisor", type=int, default=40)
    parser.add_argument("--window", default="5", help="seconds the chart shows (1, 2, 5, 10, 30)")
    args = parser.parse_args()

    folder = tempfile.mkdtemp(prefix="daqctl-panel-bench-")
    scenario = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "scenarios", "lab_bench.json")
    panel = Panel(args.daqctl, scenario, folder)
    browser = start_browser(folder)
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import Select
    ok = False
    try:
        browser.get(panel.url)
        wait_until("the page", lambda: browser.find_elements(By.ID, "acq-start"))
        Select(browser.find_element(By.ID, "acq-window")).select_by_value(args.window)
        time.sleep(0.5)  # the stream reconnects with the new window
        stats = "return window.panelStats"
        base = browser.execute_script(stats)
        cpu0 = cpu_seconds(panel.process.pid)
        t0 = time.monotonic()
        panel.post("/api/acquisition/start", {"board": 0, "channel": 0, "range": 0, "divisor": args.divisor,
                                              "record": True, "file": "stream.csv"})
        fps = []
        while time.monotonic() - t0 < args.seconds:
            time.sleep(1.0)
            fps.append(browser.execute_script(stats)["fps"])
        stopped = panel.post("/api/acquisition/stop", {})
        elapsed = time.monotonic() - t0
        cpu = cpu_seconds(panel.process.pid) - cpu0
        time.sleep(0.5)
        end = browser.execute_script(stats)

        comments, indices, _ = read_recording(os.path.join(folder, "stream.csv"))
        samples = stopped["samples"]
        lost = samples - len(indices)
        if indices != list(range(len(indices))):
            fail("the recording's indices are not 0, 1, 2, ... without a gap")
        if comments.get("sample_count") != str(samples) or comments.get("end") != "complete":
            fail(f"the recording ends {comments.get('end')!r} with {comments.get('sample_count')} samples "
                 f"of {samples} fetched")
        rate = 4e6 / args.divisor
        draws = end["draws"] - base["draws"]
        print(f"acquisition: {rate / 1e3:g} kS/s for {elapsed:.2f} s: {samples} samples fetched, "
              f"{len(indices)} in the file, {lost} lost")
        print(f"page: {draws / elapsed:.1f} chart draws/s (per second: {fps}), "
              f"{end['frames'] - base['frames']} frames, {end['columns'] - base['columns']} columns, "
              f"gaps {end['gaps']} ({end['gapColumns']} columns), display frames dropped by the server "
              f"{end['dropped']}")
        print(f"server: {cpu:.2f} s CPU in {elapsed:.2f} s = {100 * cpu / elapsed:.1f}% of one core")
        if lost != 0 or samples < 0.95 * rate * args.seconds:
            fail(f"{samples} samples in {elapsed:.2f} s at {rate:g} S/s")
        ok = True
    finally:
        panel.finish(browser, ok)


if __name__ == "__main__":
    main()
