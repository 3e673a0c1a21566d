# shellcheck shell=bash
# The guest's side of the field rig (scripts/field/rig.sh), sourced by the scripts that run in
# the guest. Its lines to the rig go over the virtio console /dev/hvc0: "rig VERB ARGS..." asks
# for something (one line comes back, "ok ..." or "error ..."); any other line the rig prints.

# The rig's facts for this side, which field_boot writes: the adapters' sockets (1 to
# field_sockets) and the collector's address (empty when there is none).
field_sockets=''
# shellcheck disable=SC2034  # the scenarios'
field_central=''
# shellcheck source=/dev/null
. /usr/local/lib/field/rig.conf
field_usage="usage: rig up | plug SOCKET [SIM OPTION...] | pull SOCKET | pull-after SOCKET N |\
 saved SOCKET FILE | gathered | done   (SOCKET 1 to $field_sockets; sim47913 --help lists the\
 options)"

# udev loads the virtio console's driver while the unit may already run.
for ((field_i = 0; field_i < 1200; field_i++)); do
  [ -c /dev/hvc0 ] && break
  sleep 0.05
done
exec {field_fd}<>/dev/hvc0
stty -F /dev/hvc0 raw -echo

# say TEXT... : one line to the rig.
say() { echo "$*" >&"$field_fd"; }

# rig VERB ARGS... : one request (field_usage; field_request in rig.sh says what each does); its
# answer in field_reply. With no request, or -h or --help, only the usage line.
rig() {
  local reply
  case "${1:-}" in
    "" | -h | --help)
      echo "$field_usage"
      return 0
      ;;
  esac
  say "rig $*"
  [ "$1" = "done" ] && return 0
  IFS= read -r reply <&"$field_fd" || return 1
  reply=${reply%$'\r'}
  case "$reply" in
    ok*) field_reply=${reply#ok}; field_reply=${field_reply# } ;;
    *) field_reply=$reply; echo "rig $*: $reply" >&2; return 1 ;;
  esac
}

# socket_path SOCKET : the persistent name udev gives the adapter in that USB socket.
socket_path() {
  local p
  for p in /dev/serial/by-path/pci-*-usb-0:"$1":1.0-port0; do
    echo "$p"
    return 0
  done
}

# wait_for_socket SOCKET [SECONDS] : until udev has named the adapter in SOCKET.
wait_for_socket() {
  local i limit=$((${2:-30} * 20))
  for ((i = 0; i < limit; i++)); do
    [ -e "$(socket_path "$1")" ] && return 0
    sleep 0.05
  done
  return 1
}

# wait_gone PATH [SECONDS]
wait_gone() {
  local i limit=$((${2:-30} * 20))
  for ((i = 0; i < limit; i++)); do
    [ -e "$1" ] || return 0
    sleep 0.05
  done
  return 1
}

now_ms() { echo $(($(date +%s%N) / 1000000)); }

field_passed=0
field_failed=0
# pass NAME / fail NAME DETAIL / check NAME DETAIL COMMAND... : one result line each.
pass() { say "PASS $1"; field_passed=$((field_passed + 1)); }
fail() { say "FAIL $1: $2"; field_failed=$((field_failed + 1)); }
check() {
  local name=$1 detail=$2
  shift 2
  if "$@"; then pass "$name"; else fail "$name" "$detail"; fi
}
# note TEXT : a line for the person reading the rig's output.
note() { say "note: $*"; }
