"""daqctl panel driven in Debian's chromium (headless, through chromium-driver
and python3-selenium): the panel as a process, the browser, and waiting. For
the browser test (tests/tools/panel_browser_test.py) and the streaming
benchmark (bench/panel_stream_bench.py)."""
import csv
import json
import os
import shutil
import subprocess
import sys
import time
import urllib.request

SKIP = 77


def skip(message):
    print(f"SKIP: {message}")
    sys.exit(SKIP)


def fail(message):
    print(f"FAIL: {message}")
    sys.exit(1)


def wait_until(what, predicate, timeout=20.0):
    end = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > end:
            fail(f"timed out waiting for {what}")
        time.sleep(0.05)


class Panel:
    """daqctl panel as a process; its URL, token and the bench hooks."""

    def __init__(self, daqctl, scenario, folder):
        self.folder = folder
        self.stderr = open(os.path.join(folder, "stderr.txt"), "w")
        self.process = subprocess.Popen(
            [daqctl, "--sim", scenario, "panel", "--record-folder", folder],
            stdout=subprocess.PIPE, stderr=self.stderr, text=True)
        self.url = self.process.stdout.readline().strip()
        if "/?token=" not in self.url:
            self.stop()
            fail(f"daqctl panel printed no URL: {self.url!r}")
        self.base, self.token = self.url.split("/?token=")

    def bench(self):
        with urllib.request.urlopen(f"{self.base}/sim/bench?token={self.token}") as reply:
            return json.load(reply)

    def post(self, path, body):
        request = urllib.request.Request(
            self.base + path, data=json.dumps(body).encode(), method="POST",
            headers={"Content-Type": "application/json", "X-Panel-Token": self.token, "Origin": self.base})
        with urllib.request.urlopen(request) as reply:
            return json.load(reply)

    def stop(self):
        self.process.send_signal(2)  # SIGINT, as Ctrl-C
        status = self.process.wait(timeout=30)
        self.stderr.close()
        return status

    def finish(self, browser, ok):
        """Closes the browser and stops the panel; its folder is removed after
        a success and kept for a look after a failure. The panel's status."""
        browser.quit()
        status = self.stop()
        if ok:
            shutil.rmtree(self.folder, ignore_errors=True)
        else:
            print(f"the panel's folder is kept: {self.folder}")
        return status


def start_browser(folder):
    """Headless chromium through chromium-driver; exits with SKIP when either
    is missing."""
    chromium = shutil.which("chromium")
    driver_path = shutil.which("chromedriver") or "/usr/bin/chromedriver"
    if not chromium:
        skip("chromium is not installed (apt-get install chromium chromium-driver python3-selenium)")
    if not os.path.exists(driver_path):
        skip("chromedriver is not installed (apt-get install chromium-driver)")
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        fail("python3-selenium is not installed (apt-get install python3-selenium; scripts/install-deps.sh has it)")
    options = webdriver.ChromeOptions()
    options.binary_location = chromium
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--window-size=1400,1800", f"--user-data-dir={folder}/profile"):
        options.add_argument(flag)
    return webdriver.Chrome(service=Service(driver_path), options=options)


def read_recording(path):
    """daqctl's CSV: its "# key: value" lines, the index column, the volts."""
    comments, indices, volts = {}, [], []
    with open(path) as f:
        lines = f.read().splitlines()
    for line in lines:
        if line.startswith("# ") and ": " in line:
            key, value = line[2:].split(": ", 1)
            comments[key] = value
    table = list(csv.reader(line for line in lines if not line.startswith("#")))
    if not table or table[0][:3] != ["index", "time_s", "volts"]:
        fail(f"{path}: unexpected header {table[:1]}")
    for row in table[1:]:
        indices.append(int(row[0]))
        volts.append(float(row[2]))
    return comments, indices, volts
