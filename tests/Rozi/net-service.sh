#!/usr/bin/env bash
# NetSocket's DNS-SD test against a private Avahi daemon: in network and mount namespaces of its own
# (only a loopback device, a private /run), a private system bus with avahi-daemon on it, then the
# test binary's service test. Exit status 77 (skipped) where avahi-daemon or dbus-daemon is missing,
# where this is not root (avahi-daemon hands its runtime folder to its own user, which a user
# namespace cannot map) or where the namespaces cannot be made.
#
#   net-service.sh ROZI-TESTS
set -euo pipefail

if [[ -z ${PELKOR_AVAHI_NAMESPACE:-} ]]; then
    for tool in avahi-daemon dbus-daemon ip; do
        command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed (scripts/install-deps.sh)"; exit 77; }
    done
    [[ $(id -u) -eq 0 ]] || { echo "skipped: avahi-daemon runs only as root"; exit 77; }
    unshare -mn true 2>/dev/null || { echo "skipped: network and mount namespaces are not permitted here"; exit 77; }
    PELKOR_AVAHI_NAMESPACE=1 exec unshare -mn bash "$0" "$@"
fi

# shellcheck source=../../scripts/session-steps.sh
source "$(dirname "$0")/../../scripts/session-steps.sh"
session_begin

# This namespace's own /run, where the daemon keeps its pid file and socket; the loopback device,
# the only one here, with multicast on.
mount -t tmpfs tmpfs /run
mkdir -p /run/avahi-daemon
ip link set lo up
ip link set lo multicast on

cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$work/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
dbus-daemon --config-file="$work/bus.conf" --nofork --nopidfile --print-address=1 >"$work/bus.address" 2>"$work/bus.log" &
session_pids+=($!)
await_line "$work/bus.address" unix: >/dev/null
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/bus

cat >"$work/avahi.conf" <<CONF
[server]
host-name=pelkor-test
use-ipv4=yes
use-ipv6=yes
allow-interfaces=lo
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
CONF
avahi-daemon -f "$work/avahi.conf" --no-drop-root --no-chroot --no-rlimits --no-proc-title >"$work/avahi.log" 2>&1 &
session_pids+=($!)
await_line "$work/avahi.log" "Server startup complete" >/dev/null || { cat "$work/avahi.log" >&2; exit 1; }

PELKOR_PRIVATE_AVAHI=1 "$1" --gtest_filter='NetSocketConnectTest.AServicePublishedOnLoopbackIsResolvedAndConnected'
