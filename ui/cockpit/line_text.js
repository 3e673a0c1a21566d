// The page's language: Cockpit's own (cockpit.language, which ../base1/po.js sets from the
// language Cockpit shows). Spanish, the texts as written here, for es*; a language with a catalog
// of its own (po/<language>.po, built into line_catalogs.js) gets it; English any other.
import catalogs, { records } from "./line_catalogs.js";

function choose(language) {
    const full = String(language || "en").replace("-", "_");
    const short = full.split("_")[0];
    if (short === "es")
        return { language: "es", texts: {}, records: {} };
    for (const name of [full, short]) {
        if (Object.hasOwn(catalogs, name))
            return { language: name, texts: catalogs[name], records: records[name] || {} };
    }
    return { language: "en", texts: catalogs.en || {}, records: records.en || {} };
}

// `text` in `table`, or as it is; a record's text may be any name, "__proto__" too.
function look(table, text) {
    return Object.hasOwn(table, text) ? table[text] : text;
}

const chosen = choose(globalThis.cockpit && globalThis.cockpit.language);

// The page's language as HTML names it.
export const LANGUAGE = chosen.language.replace("_", "-");

// A text in the page's language; "$0", "$1"... in it stand for the values after it.
export function _(spanish, ...values) {
    const text = look(chosen.texts, spanish);
    return text.replace(/\$(\d)/g, (all, n) => (Number(n) < values.length ? String(values[n]) : all));
}

// A number with one decimal, with the language's decimal sign: "97,6" in Spanish, "97.6" in English.
export function oneDecimal(value) {
    return new Intl.NumberFormat(LANGUAGE, { minimumFractionDigits: 1, maximumFractionDigits: 1,
        useGrouping: false }).format(value);
}

// A record's error, which a station writes in Spanish whatever its language: the page's language's
// where the whole text is one of the programs' own, else as written.
export function recordText(spanish) {
    return look(chosen.records, String(spanish));
}
