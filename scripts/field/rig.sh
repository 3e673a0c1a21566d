# shellcheck shell=bash
# The field rig, sourced after scripts/lib.sh; not run. A guest machine made only of Debian 12's
# packages: its own kernel (linux-image-amd64) and a minimal root with udev, systemd and the
# project's package installed by apt, run by QEMU without an accelerator; the device simulator
# runs on this machine behind emulated USB serial adapters (FTDI, so the guest's ftdi_sio driver
# takes them) on the guest's xHCI bus, plugged in and pulled out over QEMU's monitor. Nothing in
# it touches a serial port of this machine.
#
#   field_prepare CACHE DEB     the kernel and the guest's root, cached under CACHE
#   field_gather DIR            before field_boot: a journal collector on this machine that the
#                               guest reaches as central:19532, storing what it gets in DIR
#   field_boot WORK GUEST_SCRIPT [FILE...]   boots the guest in the empty folder WORK (the run's
#                               own), with GUEST_SCRIPT run as a oneshot unit once the guest is
#                               up and FILEs copied into its /srv/field/
#   field_serve [SECONDS]       serves the guest's requests until it says "rig done" (0), the time
#                               runs out or the guest stops (1); every other line it sends is
#                               handed to field_on_line (default: printed)
#   field_plug SOCKET [SIM OPTION...] / field_pull SOCKET   an adapter in or out, from here
#   field_page_open / field_page_seen   the line's page, served by Cockpit in the guest, watched
#                               in a browser here (the guest asks for them: rig page-open, page-seen)
#   field_stop                  ends the guest, every simulator, the collector and the browser
#
# The guest asks through its lines of scripts/field/guest.sh (rig plug, rig pull, ...); a person
# with --keep does the same by hand inside the guest.

field_lib_dir=${field_lib_dir:-$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)}
# The line's Cockpit page (the package beside DEB) and Cockpit's web server come in too.
field_guest_packages=(udev systemd-sysv kmod systemd-journal-remote "${updater_cockpit_packages[@]}")
# The kernel modules the guest loads: the USB host and serial drivers, the virtio console that
# carries the rig's requests (a console no port list counts as a serial port), the network card
# that leads to the collector, and the virtio disk with ext4 (crc32c for its checksums) that a
# guest given field_disk keeps /var/lib/actualizador on.
field_modules=(drivers/usb/common/usb-common drivers/usb/core/usbcore drivers/usb/host/xhci-hcd
               drivers/usb/host/xhci-pci drivers/usb/serial/usbserial drivers/usb/serial/ftdi_sio
               drivers/virtio/virtio drivers/virtio/virtio_ring drivers/virtio/virtio_pci
               drivers/virtio/virtio_pci_modern_dev drivers/virtio/virtio_pci_legacy_dev
               drivers/char/virtio_console net/core/failover drivers/net/net_failover
               drivers/net/virtio_net drivers/block/virtio_blk lib/crc16 fs/mbcache fs/jbd2/jbd2
               fs/ext4/ext4 crypto/crc32c_generic)
# The adapters' sockets, 1 to this: the xHCI controller's USB 2 ports, the only ones that take
# QEMU's full-speed FTDI adapter (its USB 3 ports take SuperSpeed devices alone).
field_sockets=8
# The collector's address in the guest's network, which the guest calls central; port 19532,
# systemd-journal-remote's own.
field_central=10.0.2.100
field_memory_mb=1536
field_boot_timeout=240
field_keep=0
field_sim_pids=()
field_qemu_pid=
field_qemu_status=
field_gathered=
field_gather_port=
field_gather_pid=
field_heard=
field_page_pid=
field_page_port=
# For the next field_boot: a raw disk image (ext4) that the guest mounts on /var/lib/actualizador,
# and what becomes of the output of the guest's port field.result (field_watch_result).
field_disk=
field_result=
field_result_pid=

# What the rig needs on this machine.
# shellcheck disable=SC2034  # used by the scripts that source this
field_host_packages=(qemu-system-x86 mmdebstrap cpio python3 systemd-journal-remote minisign
                     e2fsprogs "${updater_browser_packages[@]}")

# field_prepare CACHE DEB : sets field_vmlinuz, field_initrd, field_sim and field_station (the
# package's simulator and station program, unpacked to run here), building what the cache lacks.
# The line's page comes from the cockpit-actualizador package beside DEB.
field_prepare() {
  field_cache=$1
  local deb=$2 pages
  pages=("$(dirname "$deb")"/cockpit-actualizador_*_all.deb)
  field_page_deb=$(realpath "${pages[0]}")
  [ -f "$field_page_deb" ] || { log "no cockpit-actualizador package beside $deb" >&2; return 1; }
  mkdir -p "$field_cache"
  field_kernel || return 1
  field_root "$deb" || return 1
}

# field_kernel : the kernel of Debian's linux-image-amd64 and the modules the guest needs, in
# CACHE/kernel-<package>_<version>/.
field_kernel() {
  local pkg version dir tmp m
  pkg=$(apt-cache depends linux-image-amd64 2>/dev/null |
    sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*\)$/\1/p' | head -n1)
  if [ -z "$pkg" ]; then
    env DEBIAN_FRONTEND=noninteractive apt-get update -q </dev/null >/dev/null
    pkg=$(apt-cache depends linux-image-amd64 |
      sed -n 's/^ *Depends: \(linux-image-[0-9][^ ]*\)$/\1/p' | head -n1)
  fi
  version=$(apt-cache policy "$pkg" | sed -n 's/^ *Candidate: //p')
  if [ -z "$pkg" ] || [ -z "$version" ]; then
    log "no linux-image-amd64 in apt's lists" >&2
    return 1
  fi
  dir="$field_cache/kernel-${pkg}_$version"
  field_kver=${pkg#linux-image-}
  # "done" holds the module list it was unpacked for: a module added to the list unpacks again.
  if [ "$(cat "$dir/done" 2>/dev/null)" != "${field_modules[*]}" ]; then
    log "unpacking $pkg $version"
    rm -rf "$dir"
    tmp=$(mktemp -d "$field_cache/kernel.XXXXXX")
    chmod 755 "$tmp"  # apt's download user writes there
    (cd "$tmp" && apt-get download -q "$pkg=$version" </dev/null >/dev/null 2>&1) ||
      { rm -rf "$tmp"; log "apt-get download $pkg failed" >&2; return 1; }
    dpkg-deb -x "$tmp"/*.deb "$tmp/x"
    mkdir -p "$dir/modules"
    cp "$tmp/x/boot/vmlinuz-$field_kver" "$dir/vmlinuz"
    for m in "${field_modules[@]}"; do
      mkdir -p "$dir/modules/kernel/$(dirname "$m")"
      cp "$tmp/x/lib/modules/$field_kver/kernel/$m.ko" "$dir/modules/kernel/$m.ko"
    done
    cp "$tmp/x/lib/modules/$field_kver"/modules.{order,builtin,builtin.modinfo} "$dir/modules/"
    rm -rf "$tmp"
    echo "${field_modules[*]}" >"$dir/done"
  fi
  field_vmlinuz="$dir/vmlinuz"
  field_kmodules="$dir/modules"
}

# field_build_root DEB OUT : the guest's root as an initramfs (newc cpio, uncompressed: the
# guest unpacks it faster than it would decompress it) holding a minimal Debian 12 with udev,
# systemd and DEB installed by apt, its dependencies with it; /init is systemd. The guest opens
# no window: the graphics drivers that Qt's platform plugins bring (Mesa's, with LLVM, over half
# of the root) are left out.
field_build_root() {
  local deb=$1 out=$2 debs="$field_cache/debs" tmp
  mkdir -p "$debs"
  tmp=$(mktemp -d "$field_cache/root.XXXXXX")
  local includes
  includes=$(IFS=,; echo "${field_guest_packages[*]}")
  # The archive's .debs are kept in CACHE/debs for the next build. /usr is merged by mmdebstrap's
  # own hook, as it is when no hook is named (otherwise usrmerge and Perl come in to do it);
  # dpkg skips its fsync calls (eatmydata), the root being packed once built. Documentation,
  # manual pages and translations are left out.
  if ! mmdebstrap --variant=minbase --mode=root --include="$includes" --include="$deb" \
    --include="$field_page_deb" \
    --hook-dir=/usr/share/mmdebstrap/hooks/merged-usr \
    --hook-dir=/usr/share/mmdebstrap/hooks/eatmydata \
    --hook-dir=/usr/share/mmdebstrap/hooks/file-mirror-automount \
    --aptopt='Acquire::Check-Valid-Until "false"' \
    --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-exclude=/usr/share/man/*' \
    --dpkgopt='path-exclude=/usr/share/locale/*' --dpkgopt='path-exclude=/usr/share/info/*' \
    --dpkgopt='path-exclude=/usr/lib/x86_64-linux-gnu/dri/*' \
    --dpkgopt='path-exclude=/usr/lib/x86_64-linux-gnu/libLLVM*' \
    --dpkgopt='path-exclude=/usr/lib/x86_64-linux-gnu/libz3.so*' \
    --skip=essential/unlink \
    --setup-hook="mkdir -p \"\$1/var/cache/apt/archives\"" \
    --setup-hook="sync-in '$debs' /var/cache/apt/archives/" \
    --customize-hook="sync-out /var/cache/apt/archives '$debs'" \
    --customize-hook="mkdir -p \"\$1/lib/modules/$field_kver\"" \
    --customize-hook="sync-in '$field_kmodules' /lib/modules/$field_kver" \
    --customize-hook="chroot \"\$1\" depmod $field_kver" \
    --customize-hook="ln -sfn /lib/systemd/systemd \"\$1/init\"" \
    --customize-hook="echo field >\"\$1/etc/hostname\"" \
    bookworm "$tmp/root" </dev/null >"$tmp/mmdebstrap.log" 2>&1; then
    tail -n 30 "$tmp/mmdebstrap.log" >&2
    rm -rf "$tmp"
    return 1
  fi
  (cd "$tmp/root" && find . -print0 | LC_ALL=C sort -z | cpio -o -0 -H newc --quiet) >"$out.new"
  mv "$out.new" "$out"
  rm -rf "$tmp"
}

# field_root DEB : sets field_initrd, the cached root for this DEB, kernel and recipe (a changed
# package rebuilds the root, not the kernel; the archive's .debs come from the cache).
field_root() {
  local deb key
  deb=$(realpath "$1")
  key=$({
    sha256sum <"$deb"
    sha256sum <"$field_page_deb"
    echo "$field_kver ${field_guest_packages[*]} ${field_modules[*]}"
    declare -f field_build_root
    dpkg-query -W mmdebstrap
  } | sha256sum | cut -c1-16)
  field_initrd="$field_cache/root-$key.cpio"
  if ! [ -f "$field_initrd" ]; then
    log "building the guest's root with $(basename "$deb") (mmdebstrap)"
    local started=$SECONDS
    find "$field_cache" -maxdepth 1 -name 'root-*.cpio' -delete
    field_build_root "$deb" "$field_initrd" || { log "the guest's root failed" >&2; return 1; }
    log "root built in $((SECONDS - started)) s ($(du -m "$field_initrd" | cut -f1) MB)"
  fi
  # The package's simulator, to run here behind the adapters, and its station program, for the
  # report of what the collector gathered.
  field_unpacked="$field_cache/sim-$(sha256sum <"$deb" | cut -c1-16)"
  if ! [ -x "$field_unpacked/usr/bin/sim47913" ]; then
    rm -rf "$field_cache"/sim-*
    dpkg-deb -x "$deb" "$field_unpacked"
  fi
  field_sim="$field_unpacked/usr/bin/sim47913"
  field_station="$field_unpacked/usr/bin/actualizador-station"
}

# field_qmp COMMAND_JSON... : sends each command to QEMU's monitor; prints each "return" as
# JSON, fails at the first error.
field_qmp() {
  python3 - "$field_work/qmp.sock" "$@" <<'EOF'
import json, socket, sys
s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
f = s.makefile("rw")
def answer():
    while True:
        line = f.readline()
        if not line:
            sys.exit("the monitor closed")
        m = json.loads(line)
        if "event" not in m:
            return m
answer()
for command in ['{"execute":"qmp_capabilities"}'] + sys.argv[2:]:
    f.write(command + "\n")
    f.flush()
    m = answer()
    if "error" in m:
        sys.exit(m["error"].get("desc", "error"))
    if command is not None and "qmp_capabilities" not in command:
        print(json.dumps(m.get("return")))
EOF
}

# field_gather DIR : the central machine of docs/station.md's "Gathering many stations", on this
# machine: systemd-journal-remote as its socket-activated service runs it once told to take
# plain HTTP (--listen-http=-3, the listening socket inherited), writing what it is sent into
# DIR/ and its own messages to DIR.log. Its socket is on a free port of 127.0.0.1, bound here so
# that no other program can take the port in between; field_boot forwards the guest's
# central:19532 there, the guest's only way out.
field_gather() {
  field_gathered=$1
  local i
  mkdir -p "$field_gathered"
  rm -f "$field_gathered.port"
  python3 - "$field_gathered/" "$field_gathered.port" >"$field_gathered.log" 2>&1 <<'END' &
import os, socket, sys
listener = socket.socket()
listener.bind(("127.0.0.1", 0))
listener.listen(8)
with open(sys.argv[2] + ".new", "w") as f:
    print(listener.getsockname()[1], file=f)
os.rename(sys.argv[2] + ".new", sys.argv[2])
# Handed over as systemd hands over a socket unit's: descriptor 3, LISTEN_FDS and LISTEN_PID
# (this process's, which exec keeps).
if listener.fileno() != 3:
    os.dup2(listener.fileno(), 3)
os.set_inheritable(3, True)
os.environ.update(LISTEN_FDS="1", LISTEN_PID=str(os.getpid()))
os.execv("/lib/systemd/systemd-journal-remote",
         ["systemd-journal-remote", "--listen-http=-3", "--output=" + sys.argv[1]])
END
  field_gather_pid=$!
  for ((i = 0; i < 200; i++)); do
    [ -s "$field_gathered.port" ] && break
    sleep 0.05
  done
  field_gather_port=$(cat "$field_gathered.port" 2>/dev/null || true)
  if [ -z "$field_gather_port" ]; then
    cat "$field_gathered.log" >&2
    return 1
  fi
}

# field_boot WORK GUEST_SCRIPT [FILE...] : starts the guest (QEMU in the background, pid in
# field_qemu_pid). The console (the guest's ttyS0, a 16550A) goes to WORK/console.log, or with
# field_keep=1 to a pseudo-terminal of the rig's own as well, with root logged in on it. With
# field_disk, that image is the guest's /dev/vda, mounted on /var/lib/actualizador before
# GUEST_SCRIPT starts; with field_result, the guest has a port /dev/virtio-ports/field.result
# whose output field_watch_result takes.
field_boot() {
  field_work=$1
  local guest_script=$2 extra="$1/extra" f
  shift 2
  mkdir -p "$extra/srv/field" "$extra/etc/systemd/system/multi-user.target.wants" \
    "$extra/usr/local/lib/field" "$extra/usr/local/bin"
  cp "$field_lib_dir/guest.sh" "$field_lib_dir/station-checks.sh" "$extra/usr/local/lib/field/"
  cp "$guest_script" "$extra/usr/local/lib/field/main"
  chmod 755 "$extra/usr/local/lib/field/main"
  # What guest.sh needs to know of this side: the sockets, and the collector's address when
  # there is one.
  local central=
  [ -z "$field_gather_port" ] || central=$field_central
  printf 'field_sockets=%s\nfield_central=%s\n' "$field_sockets" "$central" \
    >"$extra/usr/local/lib/field/rig.conf"
  for f in "$@"; do cp "$f" "$extra/srv/field/"; done
  chmod -R a+rX "$extra/srv/field"
  # "rig" for a person in the guest, the same requests the scripts make.
  printf '#!/bin/bash\n. /usr/local/lib/field/guest.sh\nrig "$@"\n' >"$extra/usr/local/bin/rig"
  chmod 755 "$extra/usr/local/bin/rig"
  local disk=() after_disk=
  if [ -n "$field_disk" ]; then
    # nofail: a disk that does not mount leaves the script to say so rather than halting the
    # boot; the script starts once the mount has been tried.
    disk=(-drive "file=$field_disk,format=raw,if=virtio")
    printf '/dev/vda /var/lib/actualizador ext4 nofail,x-systemd.device-timeout=30s 0 0\n' \
      >"$extra/etc/fstab"
    after_disk=" var-lib-actualizador.mount"
  fi
  cat >"$extra/etc/systemd/system/field-rig.service" <<EOF
[Unit]
Description=Field rig script
Wants=dev-hvc0.device
After=dev-hvc0.device systemd-udevd.service systemd-udev-trigger.service$after_disk
[Service]
Type=oneshot
ExecStart=/usr/local/lib/field/main
StandardInput=null
StandardOutput=journal+console
Environment=FIELD_KEEP=$field_keep
EOF
  ln -s ../field-rig.service "$extra/etc/systemd/system/multi-user.target.wants/field-rig.service"
  # With a collector, the guest is on QEMU's user network, restricted: nothing leaves it but its
  # connections to central:19532, which go to the collector's port here. A fixed address, set
  # up by systemd-networkd.
  local network=(-nic none)
  if [ -n "$field_gather_port" ]; then
    local forward="tcp:$field_central:19532-tcp:127.0.0.1:$field_gather_port"
    network=(-nic "user,model=virtio-net-pci,restrict=on,guestfwd=$forward")
    mkdir -p "$extra/etc/systemd/network"
    printf '[Match]\nType=ether\n[Network]\nAddress=10.0.2.15/24\nLinkLocalAddressing=no\nIPv6AcceptRA=no\n' \
      >"$extra/etc/systemd/network/50-field.network"
    ln -s /lib/systemd/system/systemd-networkd.service \
      "$extra/etc/systemd/system/multi-user.target.wants/systemd-networkd.service"
  fi
  local append="console=ttyS0 panic=-1 quiet systemd.show_status=0"
  append="$append systemd.mask=serial-getty@hvc0.service"
  if [ "$field_keep" -eq 1 ]; then
    mkdir -p "$extra/etc/systemd/system/serial-getty@ttyS0.service.d"
    # shellcheck disable=SC2016  # $TERM is systemd's to expand
    printf '[Service]\nExecStart=\nExecStart=-/sbin/agetty --autologin root --keep-baud 115200,57600,38400,9600 %%I $TERM\n' \
      >"$extra/etc/systemd/system/serial-getty@ttyS0.service.d/autologin.conf"
  else
    append="$append systemd.mask=serial-getty@ttyS0.service"
  fi
  # The guest's extra files as a second archive after the root: the kernel unpacks both.
  (cd "$extra" && find . -print0 | cpio -o -0 -H newc --quiet -R 0:0) >"$field_work/extra.cpio"
  cat "$field_initrd" "$field_work/extra.cpio" >"$field_work/initrd"
  mkfifo "$field_work/ctl.in" "$field_work/ctl.out"
  local result=()
  if [ -n "$field_result" ]; then
    mkfifo "$field_work/result.in" "$field_work/result.out"
    result=(-chardev "pipe,id=result,path=$field_work/result"
            -device "virtserialport,chardev=result,name=field.result")
  fi
  local console=(-serial "file:$field_work/console.log")
  if [ "$field_keep" -eq 1 ]; then
    console=(-chardev "pty,id=con,logfile=$field_work/console.log" -serial chardev:con)
  fi
  qemu-system-x86_64 -accel tcg -m "$field_memory_mb" -smp 1 -nodefaults -no-reboot \
    -display none -vga none "${network[@]}" \
    -kernel "$field_vmlinuz" -initrd "$field_work/initrd" -append "$append" \
    "${console[@]}" \
    -qmp "unix:$field_work/qmp.sock,server=on,wait=off" \
    -device "qemu-xhci,id=xhci,p2=$field_sockets" \
    -device virtio-serial-pci -chardev "pipe,id=ctl,path=$field_work/ctl" \
    -device virtconsole,chardev=ctl "${result[@]}" "${disk[@]}" \
    </dev/null >"$field_work/qemu.log" 2>&1 &
  field_qemu_pid=$!
  field_boot_started=$SECONDS
  field_heard=
  exec {field_ctl_out}<>"$field_work/ctl.out"
  exec {field_ctl_in}<>"$field_work/ctl.in"
  [ -z "$field_result" ] || field_watch_result
}

# field_watch_result : in the background (pid in field_result_pid), copies what the guest writes
# to its port field.result into WORK/result.log, until QEMU is gone. With field_result=cut, the
# first line that is a run's JSON result ("event":"result") cuts the guest's power: QEMU is sent
# SIGKILL the moment the line is read, the line is kept in WORK/result.line, and WORK/cut says
# "SEEN_TO_KILL_US SEEN_TO_GONE_US", the microseconds from the line's read to the kill's return
# and to QEMU's end (a zombie of this shell's, not yet waited for).
field_watch_result() {
  python3 - "$field_work" "$field_qemu_pid" "$field_result" <<'EOF' &
import json, os, select, signal, sys, time
work, pid, cut = sys.argv[1], int(sys.argv[2]), sys.argv[3] == "cut"
def running():
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False
# Read and write, as the rig's other pipes: the open waits for no writer, and no end of file comes.
fd = os.open(work + "/result.out", os.O_RDWR)
log = open(work + "/result.log", "wb", buffering=0)
pending = b""
while running():
    if not select.select([fd], [], [], 0.2)[0]:
        continue
    chunk = os.read(fd, 65536)
    seen = time.monotonic_ns()
    log.write(chunk)
    pending += chunk
    while cut and b"\n" in pending:
        line, pending = pending.split(b"\n", 1)
        try:
            result = json.loads(line).get("event") == "result"
        except (ValueError, AttributeError):
            result = False
        if not result:
            continue
        os.kill(pid, signal.SIGKILL)
        killed = time.monotonic_ns()
        while running() and time.monotonic_ns() - killed < 10_000_000_000:
            time.sleep(0.0005)
        gone = time.monotonic_ns()
        with open(work + "/result.line", "wb") as f:
            f.write(line + b"\n")
        with open(work + "/cut", "w") as f:
            print((killed - seen) // 1000, (gone - seen) // 1000, file=f)
        sys.exit(0)
# What QEMU wrote as it ended.
os.set_blocking(fd, False)
try:
    while chunk := os.read(fd, 65536):
        log.write(chunk)
except BlockingIOError:
    pass
EOF
  field_result_pid=$!
}

# field_on_line LINE : what the guest sends that is no request; scripts may redefine it.
field_on_line() { echo "$1"; }

# field_serve [SECONDS] : answers the guest's requests (each "rig VERB ARGS..." gets one line,
# "ok ..." or "error ...").
field_serve() {
  local limit=${1:-3600} line reply deadline=$((SECONDS + ${1:-3600})) words
  while [ $SECONDS -lt $deadline ]; do
    if ! kill -0 "$field_qemu_pid" 2>/dev/null; then
      log "the guest stopped" >&2
      return 1
    fi
    if ! IFS= read -r -t 1 line <&"$field_ctl_out"; then
      if [ -z "$field_heard" ] && [ $((SECONDS - field_boot_started)) -gt "$field_boot_timeout" ]; then
        log "the guest said nothing within $field_boot_timeout s of its start" >&2
        return 1
      fi
      continue
    fi
    field_heard=1
    line=${line%$'\r'}
    case "$line" in
      "rig done"*) return 0 ;;
      "rig "* | rig)
        # The guest's words, split but never expanded as file names. Not in a subshell: the
        # simulators it starts are this shell's to stop.
        read -ra words <<<"${line#rig}"
        if field_request "${words[@]}" >"$field_work/reply" 2>&1; then
          reply="ok $(tr '\n' ' ' <"$field_work/reply")"
        else
          reply="error $(tr '\n' ' ' <"$field_work/reply")"
        fi
        echo "${reply% }" >&"$field_ctl_in"
        ;;
      *) field_on_line "$line" ;;
    esac
  done
  log "no end from the guest within $limit s" >&2
  return 1
}

# field_request VERB ARGS... : one request of the guest; a malformed one is answered with an
# error, as an unknown one is, and the rig goes on.
#   up                       the guest is up (answered with the boot's seconds)
#   plug SOCKET [SIM OPTION...]   a simulator behind a new adapter in SOCKET (1 to field_sockets)
#   pull SOCKET              the adapter out of SOCKET (its simulator stopped)
#   pull-after SOCKET N      the adapter out of SOCKET once its simulator has written N bytes
#   saved SOCKET FILE        "same" when SOCKET's simulator saved exactly /srv/field/FILE
#   gathered                 the report of what the collector gathered (field_gather), as
#                            actualizador-station report --json prints it, its lines joined
#   page-open / page-seen    field_page_open / field_page_seen
field_request() {
  local verb=${1:-}
  case "$verb" in
    plug | pull | pull-after | saved)
      if ! [[ ${2:-} =~ ^[1-9][0-9]*$ ]] || [ "$2" -gt "$field_sockets" ]; then
        echo "$verb: no socket '${2:-}' (1 to $field_sockets)"
        return 1
      fi
      ;;
  esac
  case "$verb" in
    up) echo "$((SECONDS - field_boot_started))" ;;
    plug) shift; field_plug "$@" ;;
    pull) field_pull "$2" ;;
    pull-after)
      [[ ${3:-} =~ ^[0-9]+$ ]] || { echo "pull-after: N must be a number of bytes"; return 1; }
      field_pull_after "$2" "$3"
      ;;
    gathered)
      [ -n "$field_gathered" ] || { echo "no collector"; return 1; }
      "$field_station" report --directory "$field_gathered" --json
      ;;
    page-open) field_page_open ;;
    page-seen) field_page_seen ;;
    saved)
      [[ ${3:-} =~ ^[A-Za-z0-9._-]+$ ]] || { echo "saved: FILE must name a file of /srv/field"; return 1; }
      if ! [ -f "$field_work/saved-$2.bin" ]; then
        echo missing
      elif cmp -s "$field_work/saved-$2.bin" "$field_work/extra/srv/field/$3"; then
        echo same
      else
        echo differs
      fi
      rm -f "$field_work/saved-$2.bin"
      ;;
    *) echo "unknown request '$verb'"; return 1 ;;
  esac
}

# field_plug SOCKET [SIM OPTION...] : starts a simulator (it saves each complete image in
# WORK/saved-SOCKET.bin and writes each byte's time to WORK/trace-SOCKET) and plugs an adapter
# leading to its terminal into SOCKET; the adapter's USB serial number is FIELD-SOCKET.
field_plug() {
  local socket=$1 out i pty
  shift
  field_pull "$socket" >/dev/null 2>&1 || true
  out="$field_work/sim-$socket.out"
  # The last simulator's output goes first: read before the new one's shell has truncated it, its
  # terminal's name (gone with it) would be taken for the new one's.
  rm -f "$field_work/saved-$socket.bin" "$field_work/trace-$socket" "$out"
  "$field_sim" --timeout 1800 --save "$field_work/saved-$socket.bin" \
    --trace-writes "$field_work/trace-$socket" "$@" </dev/null >"$out" 2>"$out.err" &
  field_sim_pids[socket]=$!
  for ((i = 0; i < 100; i++)); do
    pty=$(head -n1 "$out" 2>/dev/null)
    [ -n "$pty" ] && break
    sleep 0.05
  done
  [ -n "$pty" ] || { cat "$out.err"; return 1; }
  field_qmp \
    "{\"execute\":\"chardev-add\",\"arguments\":{\"id\":\"line$socket\",\"backend\":{\"type\":\"serial\",\"data\":{\"device\":\"$pty\"}}}}" \
    "{\"execute\":\"device_add\",\"arguments\":{\"driver\":\"usb-serial\",\"id\":\"adapter$socket\",\"chardev\":\"line$socket\",\"bus\":\"xhci.0\",\"port\":\"$socket\",\"serial\":\"FIELD-$socket\"}}" \
    >/dev/null
}

# field_pull SOCKET : the adapter out of SOCKET, its line and simulator gone.
field_pull() {
  local socket=$1 until=$((SECONDS + 20))
  field_qmp "{\"execute\":\"device_del\",\"arguments\":{\"id\":\"adapter$socket\"}}" \
    >/dev/null 2>&1 || true
  # The line goes once the guest has let the adapter go, which a busy guest takes seconds to do;
  # a line left behind would refuse the socket's next plug.
  while [ $SECONDS -lt $until ]; do
    field_qmp "{\"execute\":\"chardev-remove\",\"arguments\":{\"id\":\"line$socket\"}}" \
      >/dev/null 2>&1 && break
    field_qmp '{"execute":"query-chardev"}' 2>/dev/null | grep -q "\"line$socket\"" || break
    sleep 0.05
  done
  if [ -n "${field_sim_pids[socket]:-}" ]; then
    kill "${field_sim_pids[socket]}" 2>/dev/null || true
    wait "${field_sim_pids[socket]}" 2>/dev/null || true
    unset "field_sim_pids[socket]"
  fi
}

# field_pull_after SOCKET N : in the background, pulls SOCKET's adapter the moment its simulator
# has written N bytes (within a few milliseconds: the trace is read every 2 ms).
field_pull_after() {
  local socket=$1 count=$2 trace="$field_work/trace-$1"
  (
    for ((i = 0; i < 60000; i++)); do
      [ -f "$trace" ] && [ "$(wc -l <"$trace")" -ge "$count" ] && break
      sleep 0.002
    done
    field_qmp "{\"execute\":\"device_del\",\"arguments\":{\"id\":\"adapter$socket\"}}" >/dev/null
  ) </dev/null >/dev/null 2>&1 &
}

# field_page_open : forwards a free port of this machine's loopback to the guest's port 9090,
# where the guest serves the line's page with cockpit-ws, and opens the page there in headless
# Chromium (scripts/field/line-page.py, in the background, run by Debian's python3, which has
# Selenium); says "ready N" once the page has drawn today's figures (N programmed), or fails. The
# forward exists only while a page is open: it is the guest network's second, beside the
# collector's.
field_page_open() {
  local i
  [ -n "$field_gather_port" ] || { echo "no network in the guest"; return 1; }
  field_page_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  # hostfwd_add answers an error as text, not as QMP's error.
  if [ "$(field_hmp "hostfwd_add tcp:127.0.0.1:$field_page_port-:9090")" != '""' ]; then
    echo "hostfwd_add failed"
    field_page_port=
    return 1
  fi
  rm -rf "$field_work/page"
  mkdir -p "$field_work/page"
  nice /usr/bin/python3 "$field_lib_dir/line-page.py" \
    "http://127.0.0.1:$field_page_port/cockpit/@localhost/actualizador/index.html" \
    "$field_work/page" </dev/null >"$field_work/page.out" 2>"$field_work/page.err" &
  field_page_pid=$!
  for ((i = 0; i < 1800; i++)); do
    [ -s "$field_work/page.out" ] && break
    kill -0 "$field_page_pid" 2>/dev/null || break
    sleep 0.1
  done
  head -n1 "$field_work/page.out" 2>/dev/null
  grep -q '^ready' "$field_work/page.out" 2>/dev/null && return 0
  tail -n3 "$field_work/page.err"
  field_page_close
  return 1
}

# field_page_seen : once the browser's watch has ended (within 4 minutes), what it saw; fails
# unless it saw what it waited for. The page is closed and the forward removed.
field_page_seen() {
  local i status=1
  [ -n "$field_page_pid" ] || { echo "no page open"; return 1; }
  for ((i = 0; i < 2400; i++)); do
    kill -0 "$field_page_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$field_page_pid" 2>/dev/null || { wait "$field_page_pid" && status=0; }
  tail -n +2 "$field_work/page.out"
  [ "$status" -eq 0 ] || tail -n3 "$field_work/page.err"
  field_page_close
  return "$status"
}

# field_page_close : the browser ended (its watch quits Chromium on SIGTERM), the forward gone.
field_page_close() {
  if [ -n "$field_page_pid" ]; then
    kill "$field_page_pid" 2>/dev/null || true
    wait "$field_page_pid" 2>/dev/null || true
    field_page_pid=
  fi
  if [ -n "$field_page_port" ]; then
    field_hmp "hostfwd_remove tcp:127.0.0.1:$field_page_port" >/dev/null 2>&1 || true
    field_page_port=
  fi
}

# field_hmp COMMAND : one command of QEMU's human monitor, through QMP; prints its answer as JSON.
field_hmp() {
  field_qmp "$(python3 -c 'import json, sys; print(json.dumps({"execute": "human-monitor-command", "arguments": {"command-line": sys.argv[1]}}))' "$1")"
}

# field_power_cut WORK IMAGE : a power cut right after a run's result, in the empty folder WORK,
# once the collector is stopped (the guest has no network). A guest whose /var/lib/actualizador is
# an ext4 disk of its own (WORK/var.img, made here) runs IMAGE with --json and --log into that
# folder (scripts/field/power-cut.guest); the moment the result line reaches this machine QEMU is
# killed, and once its process has ended the guest boots again from the same disk and sends the
# record file back. One line to field_on_line, PASS when the file holds exactly the line seen, one
# whole JSON line of a success, and QEMU was killed within 100 ms of the line's arrival; and a
# note of the figures.
field_power_cut() {
  local work=$1 image=$2 name="power cut after a result keeps the record" started=$SECONDS
  local run_took check_took problems cut=() boot
  mkdir -p "$work/run" "$work/check"
  truncate -s 32M "$work/var.img"
  if ! mkfs.ext4 -q -F -L field-var "$work/var.img" >"$work/mkfs.log" 2>&1; then
    field_on_line "FAIL $name: mkfs.ext4: $(tr '\n' ' ' <"$work/mkfs.log")"
    return
  fi
  field_disk=$work/var.img
  echo "run $(basename "$image")" >"$work/power-cut.phase"
  field_result="cut"
  field_boot "$work/run" "$field_lib_dir/power-cut.guest" "$image" "$work/power-cut.phase"
  # Ends as the power goes.
  field_serve 300 2>/dev/null || true
  # The first QEMU's process ended and waited for before the second starts on its disk.
  field_stop
  local run_status=$field_qemu_status
  run_took=$((SECONDS - started))
  echo check >"$work/power-cut.phase"
  field_result=copy
  field_boot "$work/check" "$field_lib_dir/power-cut.guest" "$work/power-cut.phase"
  field_serve 300 || true
  field_stop
  field_disk=
  field_result=
  check_took=$((SECONDS - started - run_took))
  rm -f "$work/run/initrd" "$work/check/initrd"
  [ -s "$work/run/cut" ] && read -ra cut <"$work/run/cut"
  problems=$(python3 - "$work/run/result.line" "$work/check/result.log" "${cut[0]:-}" \
    "$run_status" <<'EOF'
import json, sys
def read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None
seen, kept, killed_us, status = read(sys.argv[1]), read(sys.argv[2]) or b"", sys.argv[3], sys.argv[4]
problems = []
if seen is None:
    problems.append("no result reached this machine, the power was not cut (QEMU's exit %s)" % status)
elif int(killed_us) > 100000:
    problems.append("QEMU killed %d ms after the result arrived" % (int(killed_us) // 1000))
elif status != "137":
    problems.append("QEMU's exit %s, not SIGKILL's" % status)
if not kept:
    problems.append("no record after the cut")
elif kept.count(b"\n") != 1 or not kept.endswith(b"\n"):
    problems.append("the record file is not one whole line: %r" % kept[:300])
else:
    try:
        record = json.loads(kept)
        if record.get("event") != "result" or record.get("ok") is not True:
            problems.append("the record is no success: %r" % kept[:300])
    except ValueError:
        problems.append("the record does not parse as JSON: %r" % kept[:300])
if seen is not None and kept and kept != seen:
    problems.append("the record %r is not the result seen %r" % (kept[:300], seen[:300]))
print("; ".join(problems))
EOF
  )
  if [ -n "${cut[0]:-}" ]; then
    field_on_line "note: power cut: QEMU killed $(awk -v us="${cut[0]}" 'BEGIN { printf "%.3f", us / 1000 }') ms after the result line arrived, its process gone after $(awk -v us="${cut[1]}" 'BEGIN { printf "%.3f", us / 1000 }') ms; the run's boot took $run_took s, the check's $check_took s"
  fi
  if [ -z "$problems" ]; then
    field_on_line "PASS $name"
  else
    field_on_line "FAIL $name: $problems"
    for boot in run check; do
      log "the $boot boot's console, its last lines:"
      tail -n 20 "$work/$boot/console.log" | sed 's/^/    /'
    done
  fi
}

# field_stop : the guest, every simulator, the collector and the browser ended (QEMU asked to
# quit, then killed); QEMU's process waited for, its exit status in field_qemu_status (137 when
# field_watch_result cut the power).
field_stop() {
  local pid i
  field_page_close
  if [ -n "$field_qemu_pid" ]; then
    if kill -0 "$field_qemu_pid" 2>/dev/null; then
      field_qmp '{"execute":"quit"}' >/dev/null 2>&1 || true
      for ((i = 0; i < 50; i++)); do
        kill -0 "$field_qemu_pid" 2>/dev/null || break
        sleep 0.1
      done
      kill "$field_qemu_pid" 2>/dev/null || true
    fi
    field_qemu_status=0
    wait "$field_qemu_pid" 2>/dev/null || field_qemu_status=$?
  fi
  field_qemu_pid=
  if [ -n "$field_result_pid" ]; then
    wait "$field_result_pid" 2>/dev/null || true
    field_result_pid=
  fi
  for pid in "${field_sim_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  field_sim_pids=()
  if [ -n "$field_gather_pid" ]; then
    kill "$field_gather_pid" 2>/dev/null || true
    wait "$field_gather_pid" 2>/dev/null || true
    field_gather_pid=
  fi
  field_gather_port=
}
