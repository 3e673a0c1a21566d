// The page's language: Cockpit's own (cockpit.language, which ../base1/po.js sets from the
// language Cockpit shows). Spanish, the texts as written here, for es*; a language with a catalog
// of its own (po/<language>.po, built into line_catalogs.js) gets it; English any other.
import catalogs from "./line_catalogs.js";

function choose(language) {
    const full = String(language || "en").replace("-", "_");
    const short = full.split("_")[0];
    if (short === "es")
        return { language: "es", texts: {} };
    for (const name of [full, short]) {
        if (catalogs[name])
            return { language: name, texts: catalogs[name] };
    }
    return { language: "en", texts: catalogs.en || {} };
}

const chosen = choose(globalThis.cockpit && globalThis.cockpit.language);

// The page's language as HTML names it.
export const LANGUAGE = chosen.language.replace("_", "-");

// A text in the page's language; "$0", "$1"... in it stand for the values after it.
export function _(spanish, ...values) {
    const text = chosen.texts[spanish] || spanish;
    return text.replace(/\$(\d)/g, (all, n) => (Number(n) < values.length ? String(values[n]) : all));
}

// A number with one decimal, with the language's decimal sign: "97,6" in Spanish, "97.6" in English.
export function oneDecimal(value) {
    return new Intl.NumberFormat(LANGUAGE, { minimumFractionDigits: 1, maximumFractionDigits: 1,
        useGrouping: false }).format(value);
}
