#!/usr/bin/env python3
"""Loads the bridge's page in a headless Chromium and checks what a person would see.

usage: page_in_chromium.py URL [--expect TEXT]... [--await TEXT]... [--screenshot WxH:FILE]...

Every channel tile must show a picture that changes over two seconds (each <img> is drawn into
a canvas and its pixels hashed; the page and its pictures share an origin, so the canvas can be
read). Each --expect TEXT must be on the page. Then, for the Nth --await TEXT (from 0), the
script prints "await N" and waits for TEXT to appear without a reload, so the caller can make
the DVR do something (send a notice, stall) in between. Exit status: 0 all seen, 1 something
missing (said on standard output), 77 when selenium, chromium or chromedriver is missing.
"""
import argparse
import os
import shutil
import sys
import time

SKIP = 77
TILE_WAIT_S = 8  # for every tile's first picture
CHANGE_S = 2  # between the two looks at the tiles
AWAIT_S = 10  # the page polls every 2 s; a stalled channel is marked after 5 s

# Draws each tile's picture small and hashes its pixels; null for a tile without one yet.
HASH_TILES = """
const out = [];
for (const img of document.querySelectorAll('img[data-channel]')) {
  // naturalWidth, not complete: a snapshot tile is 'incomplete' while it fetches the next one.
  if (img.naturalWidth === 0) { out.push(null); continue; }
  const canvas = document.createElement('canvas');
  canvas.width = 176; canvas.height = 120;
  const context = canvas.getContext('2d');
  context.drawImage(img, 0, 0, canvas.width, canvas.height);
  const data = context.getImageData(0, 0, canvas.width, canvas.height).data;
  let hash = 2166136261;
  for (let i = 0; i < data.length; ++i) hash = Math.imul(hash ^ data[i], 16777619) >>> 0;
  out.push(img.dataset.channel + ':' + hash);
}
return out;
"""


def find_program(*names):
    for name in names:
        path = shutil.which(name)
        if path:
            return path
    return None


def start_browser(webdriver, width, height):
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    # The streams never finish loading: waiting for the document is enough.
    options.page_load_strategy = "eager"
    # Debian's launcher script sets the flags its packagers chose; the binary behind it is
    # what chromedriver has to start.
    binary = "/usr/lib/chromium/chromium"
    options.binary_location = binary if os.path.exists(binary) else find_program("chromium")
    for flag in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                 "--no-first-run", "--mute-audio", f"--window-size={width},{height}"):
        options.add_argument(flag)
    service = Service(executable_path=find_program("chromedriver"))
    driver = webdriver.Chrome(service=service, options=options)
    driver.set_page_load_timeout(10)
    driver.set_script_timeout(10)
    return driver


def hashes(driver):
    return driver.execute_script(HASH_TILES)


def wait_for(check, seconds):
    from selenium.common.exceptions import WebDriverException

    deadline = time.monotonic() + seconds
    while True:
        try:
            value = check()
        except WebDriverException:  # the page is loading itself again
            value = None
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(0.1)


def check_page(driver, args):
    problems = []
    driver.get(args.url)
    # A page loaded before the DVR answered gets its tiles by loading itself again.
    count = wait_for(lambda: len(driver.find_elements("css selector", "img[data-channel]")),
                     TILE_WAIT_S)
    if count == 0:
        return [f"the page has no channel tiles after {TILE_WAIT_S} s"]
    first = wait_for(lambda: (lambda h: h if None not in h else None)(hashes(driver)), TILE_WAIT_S)
    if not first:
        missing = [i + 1 for i, h in enumerate(hashes(driver)) if h is None]
        return [f"tiles {missing} show no picture after {TILE_WAIT_S} s"]
    time.sleep(CHANGE_S)
    second = hashes(driver)
    for before, after in zip(first, second):
        channel = before.split(":")[0]
        if after is None:
            problems.append(f"channel {channel}: the picture went away")
        elif before == after:
            problems.append(f"channel {channel}: the picture did not change in {CHANGE_S} s")
    print(f"{count} tiles, every picture checked")
    text = driver.find_element("tag name", "body").text
    for expected in args.expect:
        if expected not in text:
            problems.append(f"'{expected}' is not on the page")
    for step, awaited in enumerate(args.awaited):
        print(f"await {step}", flush=True)
        if not wait_for(lambda: awaited in driver.find_element("tag name", "body").text, AWAIT_S):
            problems.append(f"'{awaited}' did not show within {AWAIT_S} s")
            break
    return problems


def screenshot(webdriver, url, size, path):
    width, height = (int(v) for v in size.split("x"))
    driver = start_browser(webdriver, width, height)
    try:
        # The window can't be made as narrow as a phone; its viewport can.
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                               {"width": width, "height": height, "deviceScaleFactor": 1,
                                "mobile": width < 600})
        driver.get(url)
        time.sleep(2)
        driver.save_screenshot(path)
    finally:
        driver.quit()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("url")
    parser.add_argument("--expect", action="append", default=[])
    parser.add_argument("--await", dest="awaited", action="append", default=[])
    parser.add_argument("--screenshot", action="append", default=[])
    args = parser.parse_args()
    try:
        from selenium import webdriver
    except ImportError:
        print("skipped: python3-selenium is not installed")
        return SKIP
    if not find_program("chromium") or not find_program("chromedriver"):
        print("skipped: chromium or chromedriver (chromium-driver) is not installed")
        return SKIP
    driver = start_browser(webdriver, 1280, 800)
    try:
        problems = check_page(driver, args)
    finally:
        driver.quit()
    for shot in args.screenshot:
        size, path = shot.split(":", 1)
        screenshot(webdriver, args.url, size, path)
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
