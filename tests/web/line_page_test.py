#!/usr/bin/python3
"""The line's Cockpit page in headless Chromium, served by cockpit-ws on loopback.

Run by scripts/test-web inside a mount namespace of its own, where /var/log/journal is a tmpfs:
the stations' journals this test makes there are the only ones the page sees. Prints one
"ok: ..." or "FAILED: ..." line a check; exits 1 when any failed.

Usage: line_page_test.py WORK PAGE_DIR STATION_PROGRAM_DIR [--screenshots DIR]
"""
import json
import os
import re
import socket
import subprocess
import sys
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

JOURNAL_REMOTE = "/lib/systemd/systemd-journal-remote"
REMOTE = "/var/log/journal/remote"
MESSAGE_ID = "7ec2f040a07f41a68fa510bf649112af"
HOSTILE = "<img src=x onerror=window.hacked=1>"
# A failure's text as the programs write it into a record, in Spanish whatever their language.
PROTOCOL_FAILURE = "fallo del protocolo: falta una confirmación, tiempo agotado o línea colgada"
failures = 0


def check(name, condition, detail=""):
    global failures
    if condition:
        print(f"test-web: ok: {name}")
    else:
        failures += 1
        print(f"test-web: FAILED: {name}: {detail}"[:2000])


def entry(usec, station, ok, code=0, error="", seconds="68.800", port="/dev/ttyUSB0", serial="A5"):
    fields = {
        "__REALTIME_TIMESTAMP": str(usec), "__MONOTONIC_TIMESTAMP": "1",
        "_BOOT_ID": "0123456789abcdef0123456789abcdef", "_HOSTNAME": station,
        "MESSAGE_ID": MESSAGE_ID, "SYSLOG_IDENTIFIER": "actualizador-cli",
        "MESSAGE": f"{port}: {'correcto' if ok else 'fallo'}", "PORT": port, "USB_SERIAL": serial,
        "IMAGE": "/srv/actualizador/FW.QMZ", "SHA256": "9f2c" + "0" * 60,
        "RESULT": "ok" if ok else "failed", "EXIT_CODE": str(code), "SECONDS": seconds,
    }
    if error:
        fields["ERROR"] = error
    return "".join(f"{k}={v}\n" for k, v in fields.items()) + "\n"


def journal(name, text):
    """A journal file of the stations' under the remote folder, from the export format."""
    subprocess.run([JOURNAL_REMOTE, f"--output={REMOTE}/{name}.journal", "-"], input=text.encode(),
                   check=True, stderr=subprocess.DEVNULL)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def browser(work, width):
    """Chromium asking for Spanish, the language the page's checks read."""
    options = webdriver.ChromeOptions()
    for argument in ["--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync",
                     f"--user-data-dir={work}/chromium-{width}"]:
        options.add_argument(argument)
    options.add_experimental_option("prefs", {"download.default_directory": f"{work}/downloads",
                                              "intl.accept_languages": "es-ES,es"})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.set_window_size(width, 800 if width > 600 else 844)
    # Headless Chromium saves a download only where it is told to.
    driver.execute_cdp_cmd("Page.setDownloadBehavior",
                           {"behavior": "allow", "downloadPath": f"{work}/downloads"})
    return driver


def open_page(driver, url):
    """Loads the page; seconds until it has drawn its figures, or None."""
    started = time.monotonic()
    driver.get(url)
    while time.monotonic() - started < 20:
        if driver.execute_script("return document.getElementById('page')?.dataset.ready") == "yes":
            return time.monotonic() - started
        time.sleep(0.05)
    return None


def text(driver, element_id):
    return driver.execute_script(f"return document.getElementById('{element_id}').textContent")


def labels(driver):
    """The page's language, a heading, the adapters' and line's headers, the yield and the
    failures' rows."""
    return driver.execute_script(
        "return [document.documentElement.lang, document.getElementById('today-title').textContent,"
        " document.querySelector('#adapters thead').textContent,"
        " document.getElementById('today-yield').textContent,"
        " document.querySelector('#line thead').textContent,"
        " document.querySelector('#failures tbody').textContent]")


def report_today(program_dir):
    out = subprocess.run([f"{program_dir}/actualizador-station", "report", "--json", "--since",
                          "today"], capture_output=True, text=True, check=True).stdout
    return [json.loads(line) for line in out.splitlines()]


def check_figures(driver, program_dir, when):
    groups = report_today(program_dir)
    ok = sum(g["ok"] for g in groups)
    failed = sum(g["failed"] for g in groups)
    shown = (text(driver, "today-ok"), text(driver, "today-failed"))
    check(f"{when}: today's figures are the report's", shown == (str(ok), str(failed)),
          f"page {shown}, report {ok} and {failed}")
    rows = driver.execute_script(
        "return [...document.querySelectorAll('#line tbody tr')].map("
        "r => [...r.cells].slice(0, 3).map(c => c.textContent))")
    expected = {}
    for g in groups:
        s = expected.setdefault(g["station"], [0, 0])
        s[0] += g["ok"]
        s[1] += g["failed"]
    page = {r[0]: [int(r[1]), int(r[2])] for r in rows}
    check(f"{when}: each station's row is the report's", all(page.get(k) == v for k, v in expected.items()),
          f"page {page}, report {expected}")


def main():
    work, page_dir, program_dir = sys.argv[1:4]
    shots = sys.argv[5] if len(sys.argv) > 5 and sys.argv[4] == "--screenshots" else None
    os.makedirs(REMOTE, exist_ok=True)
    os.makedirs(f"{work}/share/cockpit", exist_ok=True)
    os.makedirs(f"{work}/downloads", exist_ok=True)
    os.symlink(page_dir, f"{work}/share/cockpit/actualizador")

    now = int(time.time() * 1e6)
    records = []
    for i in range(12):
        records.append(entry(now - (60 - i) * 10_000_000, "st-norte", i % 6 != 5, 0 if i % 6 != 5 else 8,
                             "" if i % 6 != 5 else PROTOCOL_FAILURE))
        records.append(entry(now - (60 - i) * 10_000_000 + 1, "st-sur", i != 3, 0 if i != 3 else 7,
                             "" if i != 3 else HOSTILE, serial="B7"))
    records.append(entry(now - 2 * 3600_000_000, "st-este", True))
    records.append(entry(now - 5_000_000, "st-norte", False, 8, "x" * 100_000))
    journal("stations", "".join(sorted(records, key=lambda r: int(r.split("=", 2)[1].split("\n")[0]))))

    port = free_port()
    env = dict(os.environ, XDG_DATA_DIRS=f"{work}/share:/usr/share",
               PATH=f"{program_dir}:{os.environ['PATH']}")
    server = subprocess.Popen(["/usr/lib/cockpit/cockpit-ws", "--local-session=/usr/bin/cockpit-bridge",
                               "-a", "127.0.0.1", "-p", str(port)], env=env,
                              stdout=subprocess.DEVNULL, stderr=open(f"{work}/cockpit-ws.log", "w"))
    url = f"http://127.0.0.1:{port}/cockpit/@localhost/actualizador/index.html"
    desktop = phone = None
    try:
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.1)
        desktop = browser(work, 1280)
        seconds = open_page(desktop, url)
        check("the page draws its figures", seconds is not None, "never ready")
        check_figures(desktop, program_dir, "three stations")
        check("a station quiet for an hour stands out",
              desktop.execute_script("return [...document.querySelectorAll('#line tr.quiet')]"
                                     ".map(r => r.cells[0].textContent).join()") == "st-este")
        reasons = desktop.execute_script(
            "return [...document.querySelectorAll('#failures td')].map(c => c.textContent)")
        check("a record's markup shows as its text", HOSTILE in reasons, f"{reasons[:12]}")
        check("and runs nothing", desktop.execute_script(
            "return window.hacked === undefined && !document.querySelector('#failures img')"))
        if shots:
            desktop.save_screenshot(f"{shots}/line-page.png")

        before = int(text(desktop, "today-ok"))
        journal("live", entry(int(time.time() * 1e6), "st-sur", True))
        started = time.monotonic()
        while time.monotonic() - started < 5 and int(text(desktop, "today-ok")) == before:
            time.sleep(0.05)
        waited = time.monotonic() - started
        check(f"a new record shows without a reload ({waited:.2f} s)", waited < 2,
              f"{text(desktop, 'today-ok')} programmed, {before} before")

        desktop.find_element("id", "download").click()
        csv = f"{work}/downloads/actualizador-registros.csv"
        for _ in range(100):
            if os.path.exists(csv):
                break
            time.sleep(0.05)
        content = open(csv, encoding="utf-8", newline="").read() if os.path.exists(csv) else ""
        check("the CSV holds the records shown", content.count("\r\n") == 28 and HOSTILE in content,
              f"{content.count(chr(13) + chr(10))} lines")

        # Cockpit's language English, as its own menu sets it: the page in English, numbers with
        # a decimal point; Spanish again without the cookie.
        spanish = labels(desktop)
        check("in Spanish, the page's texts and a decimal comma",
              spanish[0] == "es" and spanish[1] == "Hoy" and "Ahora" in spanish[2]
              and re.fullmatch(r"\d+,\d %", spanish[3]) is not None
              and PROTOCOL_FAILURE in spanish[5], f"{spanish}")
        desktop.add_cookie({"name": "CockpitLang", "value": "en-us", "path": "/"})
        open_page(desktop, url)
        english = labels(desktop)
        check("with Cockpit in English, the page's texts and a decimal point",
              english[0] == "en" and english[1] == "Today" and "Now" in english[2]
              and re.fullmatch(r"\d+\.\d%", english[3]) is not None
              and "Yield" in english[4] and "protocol failure: a missing" in english[5]
              and HOSTILE in english[5], f"{english}")
        desktop.delete_cookie("CockpitLang")

        phone = browser(work, 390)
        open_page(phone, url)
        widths = phone.execute_script(
            "return [document.documentElement.scrollWidth, document.documentElement.clientWidth]")
        check(f"nothing scrolls sideways at 390 px {widths}", widths[0] <= widths[1])
        if shots:
            phone.save_screenshot(f"{shots}/line-page-phone.png")

        year = []
        for i in range(200_000):
            year.append(entry(now - (200_000 - i) * 157_000_000, "st-anio", i % 40 != 0,
                              0 if i % 40 else 8, "" if i % 40 else "fallo del protocolo"))
        journal("year", "".join(year))
        seconds = open_page(desktop, url)
        check(f"a year of a station's records is drawn in under 2 s ({seconds} s)",
              seconds is not None and seconds < 2)
        check_figures(desktop, program_dir, "with a year of records")
    finally:
        for driver in (desktop, phone):
            if driver is not None:
                driver.quit()
        server.terminate()
        server.wait()
    print(f"test-web: {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
