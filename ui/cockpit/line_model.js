// What the line's page makes of the station's outputs and the journal's records: plain data in,
// plain data out, no page and no Cockpit, so that every figure has one place it comes from.
import { _ } from "./line_text.js";

// The journal's match for every run's result (the command line writes it).
export const RESULTS_MATCH = "MESSAGE_ID=7ec2f040a07f41a68fa510bf649112af";
// A station with no record for this long stands out.
export const QUIET_AFTER_MS = 3600 * 1000;

// One JSON object a line, as status --json, report --json and journalctl -o json write them; a
// line that is no JSON object is left out.
export function jsonLines(text) {
    const out = [];
    for (const line of text.split("\n")) {
        if (!line.trim())
            continue;
        try {
            const value = JSON.parse(line);
            if (value && typeof value === "object" && !Array.isArray(value))
                out.push(value);
        } catch (e) {
            // Not JSON: another program's line, or a line cut short.
        }
    }
    return out;
}

// A journal field's value as text: journalctl gives a string, an array of bytes for a value that
// is not UTF-8, an array of values for a field given twice (the last one counts here), and null
// for a value longer than it shows.
function fieldText(value) {
    if (value === null)
        return _("(demasiado largo para mostrarlo)");
    if (Array.isArray(value)) {
        if (value.length > 0 && typeof value[0] === "number")
            return new TextDecoder("utf-8").decode(new Uint8Array(value));
        return value.length > 0 ? fieldText(value[value.length - 1]) : "";
    }
    return typeof value === "string" ? value : "";
}

// A run's record from one entry of journalctl -o json.
export function recordFromEntry(entry) {
    const f = name => fieldText(entry[name]);
    return {
        usec: Number(f("__REALTIME_TIMESTAMP")) || 0,
        station: f("_HOSTNAME"),
        port: f("PORT"),
        usbSerial: f("USB_SERIAL"),
        image: f("IMAGE"),
        sha256: f("SHA256"),
        ok: f("RESULT") === "ok",
        exitCode: f("EXIT_CODE"),
        seconds: f("SECONDS"),
        error: f("ERROR"),
        unit: f("_SYSTEMD_UNIT"),
    };
}

// Programmed and failed runs added to a station's figures and the line's.
function addRuns(figures, station, ok, failed) {
    const s = figures.stations.get(station) || { ok: 0, failed: 0 };
    s.ok += ok;
    s.failed += failed;
    figures.stations.set(station, s);
    figures.total.ok += ok;
    figures.total.failed += failed;
}

// The day's figures, by station and for the whole line, from report --json's groups.
export function dayFigures(groups) {
    const figures = { stations: new Map(), total: { ok: 0, failed: 0 } };
    for (const g of groups)
        addRuns(figures, g.station, Number(g.ok) || 0, Number(g.failed) || 0);
    return figures;
}

// A station's newest record noted in `last` (station to microseconds), if newer than the one
// there.
export function noteLast(last, station, usec) {
    last.set(station, Math.max(last.get(station) || 0, usec));
}

// Each station's newest record, from report --json's groups over all time.
export function lastRecords(groups) {
    const last = new Map();
    for (const g of groups)
        noteLast(last, g.station, Date.parse(g.last) * 1000 || 0);
    return last;
}

// A new record counted into the day's figures.
export function countRecord(figures, record) {
    addRuns(figures, record.station, record.ok ? 1 : 0, record.ok ? 0 : 1);
}

// The last 24 hours by hour, oldest first: programmed and failed in each.
export function hourly(records, nowMs) {
    const hours = Array.from({ length: 24 }, () => ({ ok: 0, failed: 0 }));
    for (const r of records) {
        const age = Math.floor((nowMs - r.usec / 1000) / 3600000);
        if (age >= 0 && age < 24)
            hours[23 - age][r.ok ? "ok" : "failed"] += 1;
    }
    return hours;
}

// The percentage of a run still going, from its progress line in the station's language
// ("Enviado 3200 de 31743 bytes (10 %)", "Sent 3200 of 31743 bytes (10%)"); null for any other.
export function progressOf(message) {
    const found = /\((\d{1,3}) ?%\)\s*$/.exec(message);
    return found ? Number(found[1]) : null;
}

// One CSV cell: quoted, quotes doubled, and a text a spreadsheet would take for a formula kept
// as text, as actualizador-station report --csv writes them.
function cell(text) {
    const s = String(text);
    return '"' + (/^[=+\-@\t\r]/.test(s) ? "'" : "") + s.replace(/"/g, '""') + '"';
}

export function recordsCsv(records) {
    const head = "time,station,port,usb_serial,image,sha256,result,exit_code,seconds,error\r\n";
    return head + records.map(r => [
        new Date(r.usec / 1000).toISOString(), r.station, r.port, r.usbSerial, r.image, r.sha256,
        r.ok ? "ok" : "failed", r.exitCode, r.seconds, r.error
    ].map(cell).join(",") + "\r\n").join("");
}

// "2026-12-08 10:11:12" in the browser's time zone.
export function localTime(usec) {
    const d = new Date(usec / 1000);
    const two = n => String(n).padStart(2, "0");
    return d.getFullYear() + "-" + two(d.getMonth() + 1) + "-" + two(d.getDate()) + " " +
        two(d.getHours()) + ":" + two(d.getMinutes()) + ":" + two(d.getSeconds());
}
