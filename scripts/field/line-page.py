#!/usr/bin/python3
"""The line's Cockpit page that the field rig's guest serves, watched from the rig's machine in
headless Chromium (tests/web/line_page_test.py's browser). Prints "ready N" once the page has drawn
its figures (N devices programmed today); then watches the adapters' "Ahora" column and the
day's figure until the figure goes up, or LIMIT seconds. Last it prints what "Ahora" said, the
figure before and after and whether the page is the one first loaded; exits 0 when it saw a
"programando" and the figure up by one, on the same page.

Usage: line-page.py URL WORK [LIMIT]
"""
import os
import re
import signal
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests",
                                "web"))
from line_page_test import browser, text  # noqa: E402

NOW = """const t = document.getElementById('adapters');
const i = [...t.querySelectorAll('thead th')].findIndex(h => h.textContent.trim() === 'Ahora');
return [...t.querySelectorAll('tbody tr')].map(r => r.cells[i] ? r.cells[i].textContent.trim() : '');"""


def today_ok(driver):
    return int(re.sub(r"\D", "", text(driver, "today-ok")) or "0")


def main():
    url, work = sys.argv[1:3]
    limit = float(sys.argv[3]) if len(sys.argv) > 3 else 180
    # Killed by the rig, the browser is still quit.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    driver = browser(work, 1280)
    try:
        driver.get(url)
        # The guest, emulated, serves the page slowly.
        deadline = time.monotonic() + 120
        while driver.execute_script("return document.getElementById('page')?.dataset.ready") != "yes":
            if time.monotonic() > deadline:
                print("the page was never ready", flush=True)
                return 1
            time.sleep(0.2)
        driver.execute_script("window.fieldFirstLoad = true")
        before = after = today_ok(driver)
        print(f"ready {before}", flush=True)
        seen = []
        deadline = time.monotonic() + limit
        while after == before and time.monotonic() < deadline:
            for now in driver.execute_script(NOW):
                if now.startswith("programando") and now not in seen:
                    seen.append(now)
            after = today_ok(driver)
            time.sleep(0.2)
        same = driver.execute_script("return window.fieldFirstLoad === true")
        print(f"Ahora said: {', '.join(seen) or 'no programando'}; programmed today {before} -> "
              f"{after}; {'the first load' if same else 'loaded again'}", flush=True)
        return 0 if seen and after == before + 1 and same else 1
    finally:
        driver.quit()


if __name__ == "__main__":
    sys.exit(main())
