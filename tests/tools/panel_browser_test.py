#!/usr/bin/env python3
"""daqctl panel in a real browser: Debian's chromium, headless, driven by
chromium-driver through python3-selenium, on the bench of a scenario file.

The page must list the boards with the versions daqctl reports; a click on
relay 3 must switch the bench's relay; an input changed on the bench must
light its lamp; a background acquisition of the scenario's 50 Hz sine must
draw on the chart, every column the page holds being the smallest and
largest sample of the recording at that place, in order. A screenshot is
saved where --screenshot says.

Exit status 77 (CTest's skip) when chromium or its driver is not installed;
1 on any failure.
"""
import argparse
import os
import subprocess
import tempfile
import time

from panel_browser import Panel, fail, read_recording, start_browser, wait_until



def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--daqctl", required=True)
    parser.add_argument("--scenario", required=True)
    parser.add_argument("--screenshot", required=True)
    args = parser.parse_args()

    version = subprocess.run([args.daqctl, "--sim", args.scenario, "--version"], capture_output=True, text=True,
                             check=True).stdout.strip()

    folder = tempfile.mkdtemp(prefix="daqctl-panel-browser-")
    panel = Panel(args.daqctl, args.scenario, folder)
    browser = start_browser(folder)
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import Select
    ok = False
    try:
        browser.get(panel.url)
        find = browser.find_element

        # The boards and the versions.
        wait_until("the relay board", lambda: browser.find_elements(By.ID, "relay-board-0"))
        versions = find(By.ID, "versions").text
        # "daqctl 0.1.0 (simulated bench), Korvel 2.01, Dremor 3.00, interrupt driver 2.05"
        for part in version.split(", ")[1:]:
            if part not in versions:
                fail(f"the page's versions {versions!r} lack {part!r} (daqctl --version: {version!r})")
        board = find(By.ID, "relay-board-0").text
        if "KORVEL" not in board or "0:06" not in board:
            fail(f"relay board 0 reads {board!r}")
        if "slot 1:02" not in find(By.ID, "select-0").text:
            fail(f"multifunction board 0 reads {find(By.ID, 'select-0').text!r}")

        # Relay 3.
        writes = panel.bench()["relay_boards"][0]["output_writes"]
        find(By.ID, "relay-0-3").click()
        wait_until("relay 3 on the bench", lambda: panel.bench()["relay_boards"][0]["outputs"] == 0x0008)
        if panel.bench()["relay_boards"][0]["output_writes"] != writes + 1:
            fail("one click wrote the relay outputs more than once")
        wait_until("relay 3's toggle", lambda: find(By.ID, "relay-0-3").get_attribute("aria-pressed") == "true")

        # An input of the bench lights its lamp (0x8001 at start).
        if "lit" in find(By.ID, "input-0-6").get_attribute("class"):
            fail("input 6 is lit before it is set")
        panel.post("/sim/inputs", {"relay_board": 0, "inputs": "0x8041"})
        wait_until("input 6's lamp", lambda: "lit" in find(By.ID, "input-0-6").get_attribute("class"))

        # A background acquisition of channel 0's 50 Hz, 4 V sine at 10 kHz, recorded.
        Select(find(By.ID, "acq-channel")).select_by_value("0")
        Select(find(By.ID, "acq-range")).select_by_value("0")
        Select(find(By.ID, "acq-window")).select_by_value("1")
        wait_until("the stream after the window change", lambda: browser.execute_script(
            "return window.panelStats.events > 0"))
        divisor = find(By.ID, "acq-divisor")
        divisor.clear()
        divisor.send_keys("400")
        find(By.ID, "acq-record").click()
        find(By.ID, "acq-file").send_keys("browser.csv")
        find(By.ID, "acq-start").click()
        wait_until("a second of signal on the chart",
                   lambda: browser.execute_script("return window.panelStats.columns") >= 1000 and
                   browser.execute_script("return window.panelStats.draws") > 5, timeout=30)
        browser.save_screenshot(args.screenshot)
        find(By.ID, "acq-stop").click()
        wait_until("the end of the acquisition", lambda: not browser.execute_script(
            "const s = document.getElementById('acq-start'); return s.disabled"))
        time.sleep(0.3)  # the last frame
        stats = browser.execute_script("return window.panelStats")
        chart = browser.execute_script("return window.panelChart()")

        if stats["outOfOrder"] or stats["gaps"]:
            fail(f"frames out of order or lost: {stats}")
        if not chart["rate"] or abs(chart["rate"] - 10000) > 1e-6:
            fail(f"the chart's rate is {chart['rate']}")
        volts = read_recording(os.path.join(folder, "browser.csv"))[2]
        spc = chart["spc"]
        columns = [c for c in chart["columns"] if c is not None]
        if len(columns) < 100:
            fail(f"only {len(columns)} columns on the chart")
        if columns != list(range(columns[0], columns[0] + len(columns))):
            fail("the chart's columns are not consecutive")
        for k, column in enumerate(columns):
            part = volts[column * spc:(column + 1) * spc]
            if len(part) != spc:
                fail(f"column {column} lies beyond the {len(volts)} samples recorded")
            if abs(chart["min"][k] - min(part)) > 1e-6 or abs(chart["max"][k] - max(part)) > 1e-6:
                fail(f"column {column}: chart {chart['min'][k]}..{chart['max'][k]}, recorded {min(part)}..{max(part)}")
        top, bottom = max(chart["max"]), min(chart["min"])
        if abs(top - 4.0) > 0.02 or abs(bottom + 4.0) > 0.02:
            fail(f"the sine spans {bottom}..{top} V on the chart, not -4..4")
        print(f"page: {stats['frames']} frames, {stats['columns']} columns of {spc} samples, {stats['draws']} draws; "
              f"{len(volts)} samples recorded; screenshot {args.screenshot}")
        ok = True
    finally:
        status = panel.finish(browser, ok)
    if status != 0:
        fail(f"daqctl panel ended with status {status}")


if __name__ == "__main__":
    main()
