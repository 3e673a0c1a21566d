#!/bin/sh
# shellcheck disable=SC2015  # "check && ok || failed": ok never fails
# The station's checks inside a Debian guest with udev and systemd, where the actualizador
# package is installed and the rig plugs emulated USB adapters in and pulls them out. The rig runs
# one step at a time, between its own plug and pull actions; each step prints "ok: ..." or
# "FAILED: ..." lines and ends with 0 when all its checks passed, 1 otherwise.
#
#   station-checks.sh configure IMAGE [--sha256 HEX] [--public-key KEY] [--adapter VID:PID]
#                               [--serial S] [--by-path PATTERN] [--wait SECONDS]
#                                   writes /etc/actualizador/station.conf for IMAGE (its own hash
#                                   unless --sha256 or --public-key; adapter 0403:6001 unless
#                                   --adapter)
#   station-checks.sh off           empties station.conf (the station off)
#   station-checks.sh mark          marks the journal and the record file: later steps look only
#                                   at what follows
#   station-checks.sh expect-flashed DEVICE... [--timeout SECONDS]
#                                   each DEVICE programmed: a journal entry RESULT=ok, a record
#                                   line, its service ended, run as its own user (not root); the
#                                   record file grown by one whole line a DEVICE; with two or
#                                   more, the runs overlapped in time
#   station-checks.sh times DEVICE...
#                                   no check: for each DEVICE's run after the mark, a line
#                                   "DEVICE SECONDS USEC", its journal entry's SECONDS and time
#                                   (microseconds since the epoch)
#   station-checks.sh expect-failed DEVICE [--timeout SECONDS]
#                                   a journal entry RESULT=failed for DEVICE and its service ended
#   station-checks.sh expect-refused DEVICE [--timeout SECONDS]
#                                   the image refused (a wrong hash, no good signature): exit
#                                   code 3 and the port never opened
#   station-checks.sh status-says CODE PATTERN [--wait SECONDS]
#                                   actualizador-station status exits CODE and says PATTERN (grep
#                                   -E), at once or within SECONDS
#   station-checks.sh expect-notice PATTERN
#                                   actualizador-station said PATTERN in the journal after the mark
#                                   (within 20 s)
#   station-checks.sh expect-untouched DEVICE [SECONDS]
#                                   no service started for DEVICE after the mark, no entry,
#                                   ModemManager not told to leave it (watched for SECONDS, 10 by
#                                   default)
# DEVICE is the kernel's name (ttyUSB0). State between steps: /run/station-checks.
set -u

conf=/etc/actualizador/station.conf
state=/run/station-checks
records_default=/var/lib/actualizador/station.jsonl
message_id=7ec2f040a07f41a68fa510bf649112af
failures=0

ok() { echo "ok: $*"; }
failed() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}
finish() { [ "$failures" -eq 0 ]; exit $?; }

mkdir -p "$state"
cursor() { cat "$state/cursor" 2>/dev/null; }
# journal ARGS... : the journal's entries from the mark on (-q: no "-- No entries --" line when
# there are none). From the mark's own entry, --cursor: journalctl's --after-cursor, given
# matches too, skips the first entry that matches whether or not it is the cursor's.
journal() {
  if [ -n "$(cursor)" ]; then
    journalctl --no-pager -q --cursor="$(cursor)" "$@"
  else
    journalctl --no-pager -q "$@"
  fi
}
# result_field DEVICE FIELD : FIELD of DEVICE's newest result after the mark, found by the
# service that sent it (the rig saw an entry that a match on DEVICE= did not find).
result_field() {
  journal -o export MESSAGE_ID=$message_id _SYSTEMD_UNIT="$(unit "$1")" |
    awk -v f="$2=" 'index($0, f) == 1 { v = substr($0, length(f) + 1) } END { print v }'
}
unit() { echo "actualizador-station@$1.service"; }
unit_state() { systemctl show -p ActiveState --value "$(unit "$1")"; }
records_file() {
  f=$(sed -n 's/^[[:space:]]*log[[:space:]]*=[[:space:]]*//p' "$conf" 2>/dev/null | tail -n1)
  echo "${f:-$records_default}"
}
# wait_result DEVICE TIMEOUT : waits for DEVICE's result entry and for its service to end.
# The limit is in seconds of the clock: each round's queries take seconds of their own in a slow
# guest.
wait_result() {
  until=$(($(date +%s) + $2))
  while [ "$(date +%s)" -lt "$until" ]; do
    if [ -n "$(result_field "$1" RESULT)" ]; then
      case $(unit_state "$1") in active | activating | deactivating) ;; *) return 0 ;; esac
    fi
    sleep 1
  done
  return 1
}
# Microseconds since the epoch of the first and last entry of a unit after the mark.
unit_span() {
  journal -o export _SYSTEMD_UNIT="$(unit "$1")" + UNIT="$(unit "$1")" |
    sed -n 's/^__REALTIME_TIMESTAMP=//p' | sed -n '1p;$p' | tr '\n' ' '
}

command=${1:-}
[ $# -gt 0 ] && shift
case $command in
  configure)
    image=$1
    shift
    sha="" key="" adapters="" serials="" paths="" wait=""
    while [ $# -gt 0 ]; do
      case $1 in
        --sha256) sha=$2 ;;
        --public-key) key=$2 ;;
        --adapter) adapters="$adapters $2" ;;
        --serial) serials="$serials $2" ;;
        --by-path) paths="$paths $2" ;;
        --wait) wait=$2 ;;
        *) echo "station-checks: unknown option $1" >&2; exit 2 ;;
      esac
      shift 2
    done
    # The image's own hash unless a key vouches for it.
    [ -n "$sha$key" ] || sha=$(sha256sum "$image" | cut -d' ' -f1)
    {
      echo "image = $image"
      [ -z "$sha" ] || echo "sha256 = $sha"
      [ -z "$key" ] || echo "public_key = $key"
      for a in ${adapters:-0403:6001}; do echo "adapter = $a"; done
      for s in $serials; do echo "serial = $s"; done
      for p in $paths; do echo "by_path = $p"; done
      [ -z "$wait" ] || echo "wait = $wait"
    } >"$conf"
    if actualizador-station status | grep -q '^Estaci.n: activa'; then
      ok "station configured for $image"
    else
      failed "the station did not take the configuration: $(actualizador-station status)"
    fi
    ;;
  off)
    : >"$conf"
    actualizador-station status --json | head -n1 | grep -q '"state":"off"' &&
      ok "station off" || failed "the station is not off"
    ;;
  mark)
    # An entry of the mark's own, which no step's matches select.
    token="mark-$$-$(date +%s%N)"
    echo "$token" | systemd-cat -t station-checks
    i=0
    : >"$state/cursor"
    while [ "$i" -lt 100 ] && ! [ -s "$state/cursor" ]; do
      journalctl --no-pager -q -t station-checks -o export |
        awk -v m="MESSAGE=$token" 'index($0, "__CURSOR=") == 1 { c = substr($0, 10) }
                                   $0 == m { print c; exit }' >"$state/cursor"
      [ -s "$state/cursor" ] || sleep 0.1
      i=$((i + 1))
    done
    [ -s "$state/cursor" ] && ok "journal marked" || failed "the mark never reached the journal"
    # The station's services' invocations so far: a unit that ran before the mark (a failed one
    # stays loaded) is no start after it.
    systemctl list-units --all --plain --no-legend 'actualizador-station@*' | awk '{ print $1 }' |
      while read -r u; do echo "$u $(systemctl show -p InvocationID --value "$u")"; done \
        >"$state/invocations"
    # Lines of the record file so far.
    records=$(records_file)
    if [ -f "$records" ]; then wc -l <"$records"; else echo 0; fi >"$state/records"
    ;;
  expect-flashed)
    devices="" timeout=180
    while [ $# -gt 0 ]; do
      case $1 in
        --timeout) timeout=$2; shift ;;
        *) devices="$devices $1" ;;
      esac
      shift
    done
    records=$(records_file)
    latest_start=0 earliest_end=
    for device in $devices; do
      if ! wait_result "$device" "$timeout"; then
        failed "$device: no result in the journal, or its service still running, after $timeout s"
        continue
      fi
      result=$(result_field "$device" RESULT)
      code=$(result_field "$device" EXIT_CODE)
      uid=$(result_field "$device" _UID)
      [ "$result" = ok ] && [ "$code" = 0 ] && ok "$device: journal entry RESULT=ok, EXIT_CODE=0" ||
        failed "$device: journal entry RESULT=$result EXIT_CODE=$code"
      if [ -n "$uid" ] && [ "$uid" != 0 ]; then
        ok "$device: run as uid $uid, not root"
      else
        failed "$device: run as uid '$uid'"
      fi
      [ "$(systemctl show -p User --value "$(unit "$device")")" = actualizador ] &&
        ok "$device: its service's user is actualizador" ||
        failed "$device: its service's user is $(systemctl show -p User --value "$(unit "$device")")"
      if grep -F "\"port\":\"/dev/$device\"" "$records" 2>/dev/null | tail -n1 | grep -q '"ok":true'; then
        ok "$device: a record line in $records"
      else
        failed "$device: no successful record line in $records"
      fi
      if journal -o json MESSAGE_ID=$message_id DEVICE="/dev/$device" | grep -q '"_SYSTEMD_UNIT"'; then
        ok "$device: the entry is the service's (journalctl -u lists it)"
      else
        failed "$device: the entry has no _SYSTEMD_UNIT"
      fi
      # shellcheck disable=SC2046  # the two times, as two words
      set -- $(unit_span "$device")
      start=${1:-0} end=${2:-0}
      [ "$start" -gt "$latest_start" ] && latest_start=$start
      { [ -z "$earliest_end" ] || [ "$end" -lt "$earliest_end" ]; } && earliest_end=$end
    done
    # The runs' lines after the mark's: one a device, each whole (one record from its "{" to its
    # "}"), none torn or run into another by the services writing at once.
    if [ -f "$state/records" ]; then
      lines=$(tail -n +"$(($(cat "$state/records") + 1))" "$records" 2>/dev/null)
      count=$(printf '%s' "$lines" | grep -c '^')
      whole=$(printf '%s' "$lines" | grep -c '^{"event":"result"[^{}]*}$')
      [ "$count" = "$(echo "$devices" | wc -w)" ] && [ "$whole" = "$count" ] &&
        ok "$count whole record lines added to $records" ||
        failed "$count lines added to $records, $whole of them whole records"
    fi
    if [ "$(echo "$devices" | wc -w)" -ge 2 ]; then
      [ "$latest_start" -lt "${earliest_end:-0}" ] &&
        ok "the runs overlapped: programmed in parallel" ||
        failed "the runs did not overlap (last start $latest_start, first end $earliest_end)"
    fi
    ;;
  times)
    for device in "$@"; do
      echo "$device $(result_field "$device" SECONDS) $(result_field "$device" __REALTIME_TIMESTAMP)"
    done
    ;;
  expect-failed | expect-refused)
    device=$1 timeout=180
    [ "${2:-}" = --timeout ] && timeout=$3
    if ! wait_result "$device" "$timeout"; then
      failed "$device: no result in the journal, or its service still running, after $timeout s"
      finish
    fi
    result=$(result_field "$device" RESULT)
    code=$(result_field "$device" EXIT_CODE)
    [ "$result" = failed ] && ok "$device: journal entry RESULT=failed, EXIT_CODE=$code" ||
      failed "$device: journal entry RESULT=$result"
    case $(unit_state "$device") in
      active | activating) failed "$(unit "$device") still running" ;;
      *) ok "$(unit "$device") ended ($(unit_state "$device"))" ;;
    esac
    if [ "$command" = expect-refused ]; then
      [ "$code" = 3 ] && ok "$device: exit code 3" || failed "$device: exit code $code, not 3"
      if journal _SYSTEMD_UNIT="$(unit "$device")" | grep -q 'Probando\|Conectado'; then
        failed "$device: the port was probed despite the refused image"
      else
        ok "$device: the port was never probed"
      fi
    fi
    ;;
  status-says)
    code=$1 pattern=$2 limit=0
    [ "${3:-}" = --wait ] && limit=$4
    until=$(($(date +%s) + limit))
    while :; do
      said=$(actualizador-station status 2>&1)
      rc=$?
      if [ "$rc" = "$code" ] && echo "$said" | grep -Eq "$pattern"; then
        break
      fi
      [ "$(date +%s)" -lt "$until" ] || break
      sleep 0.5
    done
    [ "$rc" = "$code" ] && ok "status exits $code" || failed "status exits $rc, not $code"
    echo "$said" | grep -Eq "$pattern" && ok "status says '$pattern'" ||
      failed "status does not say '$pattern': $(echo "$said" | tr '\n' '|')"
    ;;
  expect-notice)
    i=0
    while [ "$i" -lt 40 ] && ! journal -t actualizador-station -o cat | grep -Eq "$1"; do
      sleep 0.5
      i=$((i + 1))
    done
    journal -t actualizador-station -o cat | grep -Eq "$1" &&
      ok "the journal says why: '$1'" || failed "no journal entry of actualizador-station says '$1'"
    ;;
  expect-untouched)
    device=$1 limit=${2:-10}
    sleep "$limit"
    invocation=$(systemctl show -p InvocationID --value "$(unit "$device")")
    before=$(awk -v u="$(unit "$device")" '$1 == u { print $2 }' "$state/invocations" 2>/dev/null)
    if { [ -n "$invocation" ] && [ "$invocation" != "$before" ]; } ||
      journal _SYSTEMD_UNIT="$(unit "$device")" | grep -q .; then
      failed "$(unit "$device") was started"
    else
      ok "$device: no service started"
    fi
    [ -z "$(result_field "$device" RESULT)" ] && ok "$device: no journal entry" ||
      failed "$device: a journal entry after the mark"
    if udevadm info -q property -n "/dev/$device" 2>/dev/null | grep -q '^ID_MM_DEVICE_IGNORE=1'; then
      failed "$device: ModemManager told to ignore it"
    else
      ok "$device: udev left it as it was"
    fi
    ;;
  *)
    sed -n '2,/^set -u/p' "$0" | sed '$d; s/^# \{0,1\}//'
    exit 2
    ;;
esac
finish
