#!/usr/bin/env python3
"""One station's year of actualizador-cli's result records, in the journal's export format on
standard output, for systemd-journal-remote to make a journal file of (scripts/bench --report):

    bench/journal_records.py --station estacion1 --records 66667 \\
        --message-id 7ec2f040a07f41a68fa510bf649112af --version 1.0.0.1 \\
        --image /srv/actualizador/FW-2.3.QMZ:31743:68.765 \\
        --image /srv/actualizador/FW-2.4.QMZ:30848:66.914 \\
      | /lib/systemd/systemd-journal-remote --output=DIR/remote-estacion1.journal -

Each --image is PATH:BYTES:SECONDS, SECONDS being the line-rate bound of a run with it
(sim47913 --line-bound BYTES): the first image is flashed until July, the second from then on.
The records are the fields actualizador-cli gives the journal, as a station's service sends them:
four USB sockets, an adapter each; runs spread over the working days of 2026 (Monday to Friday,
06:00 to 22:00 UTC), the station booted each morning; about 3 % failed (exit codes 4, 6, 7 and 8
with their texts). Seeded by the station's name: the same options give the same records.
"""
import argparse
import datetime
import hashlib
import random
import sys

FAILED_SHARE = 0.03
# Exit code, how often among failures, the error text, whether the image had started to go.
FAILURES = [
    (8, 0.40, "fallo del protocolo: falta una confirmación, tiempo agotado o línea colgada", True),
    (8, 0.10, "se perdió la conexión con el puerto", True),
    (7, 0.20, "el eco difiere de la imagen", True),
    (4, 0.25, "ningún equipo respondió", False),
    (6, 0.05, "el equipo rechazó la longitud", False),
]
YEAR = 2026
DAY_START = 6 * 3600
DAY_LENGTH = 16 * 3600


def image_argument(text):
    path, size, seconds = text.rsplit(":", 2)
    return path, int(size), float(seconds)


def working_days():
    day = datetime.date(YEAR, 1, 1)
    while day.year == YEAR:
        if day.weekday() < 5:
            yield day
        day += datetime.timedelta(days=1)


def midnight_seconds(day):
    return int(datetime.datetime(day.year, day.month, day.day,
                                 tzinfo=datetime.timezone.utc).timestamp())


def failure(rng):
    pick = rng.random()
    for code, share, text, started in FAILURES:
        if pick < share:
            return code, text, started
        pick -= share
    return FAILURES[0][0], FAILURES[0][2], FAILURES[0][3]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n", 1)[0])
    parser.add_argument("--station", required=True, help="the entries' _HOSTNAME")
    parser.add_argument("--records", type=int, required=True)
    parser.add_argument("--message-id", required=True, help="the result records' MESSAGE_ID")
    parser.add_argument("--version", required=True, help="actualizador-cli's version")
    parser.add_argument("--image", type=image_argument, action="append", required=True,
                        help="PATH:BYTES:SECONDS, once or twice")
    options = parser.parse_args()
    rng = random.Random(options.station)
    images = [(path, size, seconds, hashlib.sha256(path.encode()).hexdigest())
              for path, size, seconds in options.image]
    sockets = []
    for n in range(4):
        serial = "A%07X" % rng.getrandbits(28)
        sockets.append(("ttyUSB%d" % n,
                        "/dev/serial/by-path/pci-0000:00:14.0-usb-0:%d:1.0-port0" % (n + 1),
                        serial))
    switch = midnight_seconds(datetime.date(YEAR, 7, 1))

    days = list(working_days())
    out = sys.stdout
    written = 0
    for index, day in enumerate(days):
        # The records share the days out evenly, the first days taking what does not divide.
        count = options.records // len(days) + (index < options.records % len(days))
        if count == 0:
            continue
        midnight = midnight_seconds(day)
        boot = midnight + DAY_START - 600 - rng.randrange(300)
        boot_id = hashlib.md5(("%s %s" % (options.station, day)).encode()).hexdigest()
        spacing = DAY_LENGTH / count
        for n in range(count):
            start = midnight + DAY_START + spacing * (n + rng.uniform(0.0, 0.5))
            path, size, bound, sha = images[0 if start < switch or len(images) == 1 else 1]
            node, by_path, serial = sockets[rng.randrange(len(sockets))]
            ok = rng.random() >= FAILED_SHARE
            if ok:
                code, error, sent = 0, None, size
                seconds = bound + rng.uniform(0.02, 0.12)
            else:
                code, error, started = failure(rng)
                sent = rng.randrange(size) if started else 0
                seconds = (bound * sent / size if started else 30.0) + rng.uniform(0.5, 2.0)
            end = start + seconds
            port = "/dev/" + node
            if ok:
                tenths = int(seconds * 10) / 10
                message = "%s: correcto, %s (%d bytes) en %s s" % (
                    port, path, size, ("%.1f" % tenths).replace(".", ","))
            else:
                message = "%s: fallo (código %d): %s" % (port, code, error)
            fields = [
                "__REALTIME_TIMESTAMP=%d" % int(end * 1e6),
                "__MONOTONIC_TIMESTAMP=%d" % int((end - boot) * 1e6),
                "_BOOT_ID=" + boot_id,
                "_HOSTNAME=" + options.station,
                "_SYSTEMD_UNIT=actualizador-station@%s.service" % node,
                "PRIORITY=%d" % (6 if ok else 3),
                "SYSLOG_IDENTIFIER=actualizador-cli",
                "MESSAGE_ID=" + options.message_id,
                "MESSAGE=" + message,
                "PORT=" + port,
                "DEVICE=" + port,
                "BY_PATH=" + by_path,
                "USB_SERIAL=" + serial,
                "IMAGE=" + path,
                "SHA256=" + sha,
                "BYTES=%d" % size,
                "SENT=%d" % sent,
                "SECONDS=%.3f" % seconds,
                "RESULT=" + ("ok" if ok else "failed"),
                "EXIT_CODE=%d" % code,
            ]
            if error:
                fields.append("ERROR=" + error)
            fields.append("VERSION=" + options.version)
            out.write("\n".join(fields) + "\n\n")
            written += 1
    assert written == options.records


if __name__ == "__main__":
    main()
