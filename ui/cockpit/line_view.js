// The page's parts drawn from the model's data. Every text that comes from a record or a station
// goes in as a text node: a record is untrusted, whatever station wrote it.
import { localTime, QUIET_AFTER_MS } from "./line_model.js";
import { _, LANGUAGE, oneDecimal, recordText } from "./line_text.js";

const SVG = "http://www.w3.org/2000/svg";

function el(tag, className, ...children) {
    const node = document.createElement(tag);
    if (className)
        node.className = className;
    for (const child of children)
        node.append(child instanceof Node ? child : document.createTextNode(String(child)));
    return node;
}

// At most 500 characters of a record's text: a hostile one may run to any length.
function cut(text) {
    const s = String(text);
    return s.length > 500 ? s.slice(0, 499) + "…" : s;
}

// "97,6 %" ("97.6%" in English), or "-" with nothing to divide.
function yieldText(ok, failed) {
    const runs = ok + failed;
    // Translators: a percentage; $0 is the number.
    return runs === 0 ? "-" : _("$0 %", oneDecimal(Math.round(1000 * ok / runs) / 10));
}

function row(...cells) {
    return el("tr", "", ...cells.map(c => el("td", "", c)));
}

function fill(tbody, rows) {
    tbody.replaceChildren(...rows);
}

export function showProblem(text) {
    const p = document.getElementById("problem");
    p.textContent = text;
    p.hidden = !text;
}

// The page's own texts, in its language.
export function labelPage() {
    document.documentElement.lang = LANGUAGE;
    const texts = {
        "station-title": _("Esta estación"),
        "today-title": _("Hoy"),
        "today-ok-label": _("programados"),
        "today-failed-label": _("con fallo"),
        "today-yield-label": _("rendimiento"),
        "chart-caption": _("Últimas 24 horas, por hora: programados y con fallo"),
        "failures-title": _("Últimos fallos"),
        "download": _("Descargar los registros (CSV)"),
        "line-title": _("La línea"),
    };
    for (const [id, text] of Object.entries(texts))
        document.getElementById(id).textContent = text;
    const heads = {
        adapters: [_("Puerto"), _("Adaptador"), _("Ahora"), _("Último")],
        failures: [_("Hora"), _("Estación"), _("Puerto"), _("Serie USB"), _("Código"), _("Motivo")],
        line: [_("Estación"), _("Programados hoy"), _("Con fallo"), _("Rendimiento"), _("Último registro")],
    };
    for (const [id, names] of Object.entries(heads))
        document.querySelector("#" + id + " thead").replaceChildren(el("tr", "", ...names.map(n => el("th", "", n))));
}

const STATES = {
    on: _("activa"),
    off: _("desactivada"),
    error: _("desactivada por un error en station.conf"),
    refused: _("desactivada: rechazaría la imagen"),
};

// The station's line and its adapters, from status --json.
export function showStation(station, adapters, progress) {
    const state = document.getElementById("station-state");
    state.textContent = _("Estación: $0", STATES[station.state] || station.state || "?");
    state.dataset.state = station.state || "";
    const image = document.getElementById("station-image");
    image.textContent = station.image
        ? (station.image_ok ? _("Imagen: $0 (coincide)", station.image)
            : _("Imagen: $0 ($1)", station.image, (station.image_error ? recordText(station.image_error) : _("rechazada"))))
        : (station.error ? recordText(station.error) : "");
    const rows = adapters.filter(a => a.station).map(a => {
        const unit = "actualizador-station@" + String(a.device || "").replace(/^\/dev\//, "") + ".service";
        const percent = progress.get(unit);
        const now = a.unit_state === "running"
            ? (percent !== undefined ? _("programando $0 %", percent) : _("programando"))
            : a.unit_state === "unknown" ? _("desconocido") : "";
        const last = a.last_result === null || a.last_result === undefined
            ? _("ninguno desde que se conectó")
            : a.last_result === "ok"
                ? _("correcto, $0", a.last_time || "")
                : _("FALLO (código $0), $1: $2", a.last_exit_code, a.last_time || "", cut(recordText(a.last_error || "")));
        const usb = "USB " + a.vendor_id + ":" + a.product_id;
        return row(a.device || "", a.usb_serial ? _("$0, serie $1", usb, a.usb_serial) : usb, now, last);
    });
    fill(document.querySelector("#adapters tbody"), rows);
}

export function showDay(figures) {
    document.getElementById("today-ok").textContent = String(figures.total.ok);
    document.getElementById("today-failed").textContent = String(figures.total.failed);
    document.getElementById("today-yield").textContent = yieldText(figures.total.ok, figures.total.failed);
}

// Two bars an hour, programmed and failed, scaled to the busiest hour.
export function showChart(hours) {
    const svg = document.getElementById("chart");
    const most = Math.max(1, ...hours.map(h => h.ok + h.failed));
    const bars = [];
    hours.forEach((h, i) => {
        for (const [kind, count, offset] of [["ok", h.ok, 0], ["failed", h.failed, 10]]) {
            const height = Math.round(100 * count / most);
            const bar = document.createElementNS(SVG, "rect");
            bar.setAttribute("class", "bar " + kind);
            bar.setAttribute("x", String(i * 20 + offset));
            bar.setAttribute("y", String(110 - height));
            bar.setAttribute("width", "9");
            bar.setAttribute("height", String(height));
            const title = document.createElementNS(SVG, "title");
            title.textContent = kind === "ok" ? _("$0 programados", count) : _("$0 con fallo", count);
            bar.append(title);
            bars.push(bar);
        }
    });
    svg.replaceChildren(...bars);
}

export function showFailures(records) {
    const rows = records.filter(r => !r.ok).slice(-20).reverse()
            .map(r => row(localTime(r.usec), cut(r.station), cut(r.port), cut(r.usbSerial), cut(r.exitCode), cut(recordText(r.error))));
    fill(document.querySelector("#failures tbody"), rows);
}

// One row a station, when this machine holds other stations' records too.
export function showLine(figures, lastUsec, nowMs) {
    const section = document.getElementById("line-section");
    const names = [...new Set([...figures.stations.keys(), ...lastUsec.keys()])].sort();
    section.hidden = names.length < 2;
    const rows = names.map(name => {
        const s = figures.stations.get(name) || { ok: 0, failed: 0 };
        const last = lastUsec.get(name) || 0;
        const tr = row(name, String(s.ok), String(s.failed), yieldText(s.ok, s.failed), last ? localTime(last) : "-");
        if (!last || nowMs - last / 1000 > QUIET_AFTER_MS)
            tr.className = "quiet";
        return tr;
    });
    fill(document.querySelector("#line tbody"), rows);
}
