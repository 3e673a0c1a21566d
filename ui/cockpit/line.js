// The line's page in Cockpit: the station's status, today's sums from actualizador-station report
// and the day's records from the journal, then every new record as it is written.
import * as model from "./line_model.js";
import * as view from "./line_view.js";
import { _ } from "./line_text.js";

const cockpit = window.cockpit;
const STATION = "actualizador-station";
// journalctl over this machine's journal and the stations' gathered here.
const JOURNAL = ["journalctl", "--merge", "--output=json", "--no-pager", model.RESULTS_MATCH];

let startOfDay = 0; // ms, when "today" began for the figures
const state = {
    records: [], // the last 24 hours', oldest first
    figures: { stations: new Map(), total: { ok: 0, failed: 0 } },
    lastUsec: new Map(),
    progress: new Map(), // a running service's percentage, by unit
    status: null,
};

// A command's standard output, whatever its exit status (status exits 1 to 3 for a station that
// cannot work and still says why).
function output(argv) {
    return new Promise(resolve => {
        cockpit.spawn(argv, { superuser: "try", err: "message" })
                .then(out => resolve({ out, failed: false }))
                .catch((ex, out) => resolve({ out: out || "", failed: true, ex }));
    });
}

// Every complete line a running command writes.
function follow(argv, onLine) {
    let rest = "";
    cockpit.spawn(argv, { superuser: "try", err: "ignore" }).stream(chunk => {
        const lines = (rest + chunk).split("\n");
        rest = lines.pop();
        for (const line of lines)
            onLine(line);
    });
}

// Records that arrive together (a station's backlog gathered at once) are drawn once.
let drawing = null;
function drawSoon() {
    if (drawing === null)
        drawing = window.setTimeout(() => { drawing = null; drawDay(); }, 100);
}

function drawDay() {
    const now = Date.now();
    view.showDay(state.figures);
    view.showChart(model.hourly(state.records, now));
    view.showFailures(state.records);
    view.showLine(state.figures, state.lastUsec, now);
}

async function refreshStatus() {
    const { out } = await output([STATION, "status", "--json"]);
    const lines = model.jsonLines(out);
    const station = lines.find(l => l.event === "station");
    if (!station) {
        view.showProblem(_("No se puede preguntar a actualizador-station: $0", out));
        return false;
    }
    state.status = station;
    view.showStation(station, lines.filter(l => l.event === "adapter"), state.progress);
    return true;
}

async function load() {
    if (!await refreshStatus())
        return;
    if (state.status.journal_readable === false) {
        view.showProblem(_("Sin permiso para leer el diario del sistema: entre como administrador, o como usuario de los grupos systemd-journal o adm."));
        return;
    }
    const [today, all, day] = await Promise.all([
        output([STATION, "report", "--json", "--since", "today"]),
        output([STATION, "report", "--json"]),
        output([...JOURNAL, "--since", "-24h"]),
    ]);
    if (today.failed || all.failed) {
        view.showProblem(_("No se pueden sumar los registros: $0", today.out || all.out || today.ex));
        return;
    }
    const midnight = new Date();
    midnight.setHours(0, 0, 0, 0);
    startOfDay = midnight.getTime();
    state.figures = model.dayFigures(model.jsonLines(today.out));
    state.lastUsec = model.lastRecords(model.jsonLines(all.out));
    state.records = model.jsonLines(day.out).map(model.recordFromEntry);
    drawDay();
    document.getElementById("page").dataset.ready = "yes";
    follow([...JOURNAL, "--follow", "--lines=0"], line => {
        const [entry] = model.jsonLines(line);
        if (!entry)
            return;
        const record = model.recordFromEntry(entry);
        if (record.usec >= startOfDay * 1000)
            model.countRecord(state.figures, record);
        if (record.usec >= (Date.now() - 24 * 3600 * 1000) * 1000)
            state.records.push(record);
        model.noteLast(state.lastUsec, record.station, record.usec);
        state.progress.delete(record.unit);
        drawSoon();
    });
    follow(["journalctl", "--follow", "--lines=0", "--output=json", "SYSLOG_IDENTIFIER=" + STATION], line => {
        const [entry] = model.jsonLines(line);
        const percent = entry && model.progressOf(String(entry.MESSAGE || ""));
        if (percent !== null && percent !== undefined) {
            state.progress.set(String(entry._SYSTEMD_UNIT || ""), percent);
            refreshStatus();
        }
    });
    window.setInterval(refreshStatus, 5000);
}

function download() {
    const blob = new Blob([model.recordsCsv(state.records)], { type: "text/csv" });
    const link = document.createElement("a");
    link.href = URL.createObjectURL(blob);
    link.download = "actualizador-registros.csv";
    document.body.append(link);
    link.click();
    link.remove();
}

// Cockpit's light or dark look, as its shell keeps it (or the system's when it says "auto").
function followLook() {
    const apply = () => {
        let style = "auto";
        try {
            style = window.localStorage.getItem("shell:style") || "auto";
        } catch (e) {
            // No storage: the system's look.
        }
        const dark = style === "dark" ||
            (style === "auto" && window.matchMedia("(prefers-color-scheme: dark)").matches);
        document.documentElement.classList.toggle("dark", dark);
    };
    apply();
    window.addEventListener("storage", apply);
    window.matchMedia("(prefers-color-scheme: dark)").addEventListener("change", apply);
}

view.labelPage();
followLook();
document.getElementById("download").addEventListener("click", download);
load();
