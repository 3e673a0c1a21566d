#!/usr/bin/env bash
# bench/journal_records.py's records, as the report's benchmark uses them: systemd-journal-remote
# takes them whole, journalctl finds each by its MESSAGE_ID, and actualizador-station report sums
# every one (none unreadable) by station and image, with the times the line bounds given make.
# The same options give the same records. Exit status 77 (skipped) without systemd-journal-remote.
# Usage: journal_records_test.sh BUILD   (a build holding actualizador-station)
set -euo pipefail
# shellcheck source=scripts/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
build=$(realpath "$1")
remote=/lib/systemd/systemd-journal-remote
if [ ! -x "$remote" ]; then
  log "skipped: $remote is not installed (package systemd-journal-remote)"
  exit 77
fi
make_work_dir journal-records-test
id=7ec2f040a07f41a68fa510bf649112af

records() {
  python3 "$updater_root/bench/journal_records.py" --station "$1" --records 400 --message-id "$id" \
    --version 9.9 --image /srv/A.QMZ:31743:68.765 --image /srv/B.QMZ:1000:4.217
}
for station in st1 st2; do
  records "$station" >"$work/$station.export"
  "$remote" --output="$work/$station.journal" - <"$work/$station.export" 2>/dev/null
done

if records st1 | cmp -s - "$work/st1.export"; then
  pass "the same options give the same records"
else
  fail "the same options gave other records"
fi
found=$(journalctl -D "$work" -o cat "MESSAGE_ID=$id" | grep -c . || true)
if [ "$found" -eq 800 ]; then
  pass "journalctl finds the 800 records"
else
  fail "journalctl found $found of the 800 records"
fi

# One object a line: station, image, counts, median time, first and last record.
"$build/app/station/actualizador-station" report --json --directory "$work" >"$work/report.json"
if python3 - "$work/report.json" <<'EOF'; then
import json, sys
rows = [json.loads(line) for line in open(sys.argv[1])]
by = {(r["station"], r["image"]): r for r in rows}
assert sorted(by) == [(s, i) for s in ("st1", "st2") for i in ("/srv/A.QMZ", "/srv/B.QMZ")], by
assert sum(r["ok"] + r["failed"] for r in rows) == 800 and all(r["unreadable"] == 0 for r in rows)
assert 8 <= sum(r["failed"] for r in rows) <= 48, rows  # about 3 %
for r in rows:
    bound = 68.765 if r["image"] == "/srv/A.QMZ" else 4.217
    assert bound < r["median_seconds"] < bound + 0.12, r
    assert r["first" if r["image"] == "/srv/A.QMZ" else "last"][:7] in ("2026-01", "2026-12"), r
    assert set(r["failures"]) <= {"4", "6", "7", "8"}, r
EOF
  pass "the report sums every record by station and image"
else
  fail "the report's sums"
fi
report_results
