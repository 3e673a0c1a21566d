// The page's parts drawn from the model's data. Every text that comes from a record or a station
// goes in as a text node: a record is untrusted, whatever station wrote it.
import { localTime, yieldText, QUIET_AFTER_MS } from "./line_model.js";

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

const STATES = { on: "activa", off: "desactivada", error: "desactivada por un error en station.conf", refused: "desactivada: rechazaría la imagen" };

// The station's line and its adapters, from status --json.
export function showStation(station, adapters, progress) {
    const state = document.getElementById("station-state");
    state.textContent = "Estación: " + (STATES[station.state] || station.state || "?");
    state.dataset.state = station.state || "";
    const image = document.getElementById("station-image");
    image.textContent = station.image
        ? "Imagen: " + station.image + (station.image_ok ? " (coincide)" : " (" + (station.image_error || "rechazada") + ")")
        : (station.error || "");
    const rows = adapters.filter(a => a.station).map(a => {
        const unit = "actualizador-station@" + String(a.device || "").replace(/^\/dev\//, "") + ".service";
        const percent = progress.get(unit);
        const now = a.unit_state === "running"
            ? "programando" + (percent !== undefined ? " " + percent + " %" : "")
            : a.unit_state === "unknown" ? "desconocido" : "";
        const last = a.last_result === null || a.last_result === undefined
            ? "ninguno desde que se conectó"
            : a.last_result === "ok"
                ? "correcto, " + (a.last_time || "")
                : "FALLO (código " + a.last_exit_code + "), " + (a.last_time || "") + ": " + cut(a.last_error || "");
        return row(a.device || "", "USB " + a.vendor_id + ":" + a.product_id + (a.usb_serial ? ", serie " + a.usb_serial : ""), now, last);
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
            title.textContent = count + (kind === "ok" ? " programados" : " con fallo");
            bar.append(title);
            bars.push(bar);
        }
    });
    svg.replaceChildren(...bars);
}

export function showFailures(records) {
    const rows = records.filter(r => !r.ok).slice(-20).reverse()
            .map(r => row(localTime(r.usec), cut(r.station), cut(r.port), cut(r.usbSerial), cut(r.exitCode), cut(r.error)));
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
