#!/usr/bin/env bash
# A private Wayland desktop for a test: a headless sway (pixman renderer, no input devices) run as an
# unprivileged user made for the tests (wlroots compositors refuse root), in a runtime folder of its
# own; with --portal also a private session bus with PipeWire, WirePlumber, the desktop portal
# (xdg-desktop-portal) and behind it the stand-in backend of tests/wayland/stand-in-portal.py. Runs the
# command inside it, then ends everything it started, whatever the command did. Exit status 77
# (skipped, with the reason said) where the host lacks what the session needs.
#
#   wayland-session.sh [--portal PRODUCER] [--source-types N] [--size WxH] [--fps N] -- COMMAND [ARG...]
#
# --size is the output's (and the portal's screen's) size, 1280x720 by default; --fps the portal's
# pictures a second, 30 by default. A second output, made by a test as its extended screen, shows green.
# The command finds: WAYLAND_DISPLAY (the socket's path), XDG_RUNTIME_DIR, SWAYSOCK, XDG_SESSION_TYPE=wayland,
# no DISPLAY, a private HOME, XDG_CONFIG_HOME, XDG_DATA_HOME (where the portal keeps its grants) and
# XDG_CACHE_HOME, WAYLAND_SESSION_WORK (a folder it may write, gone afterwards), and with --portal
# DBUS_SESSION_BUS_ADDRESS and PORTAL_LOG (the stand-in backend's call log).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
producer=
source_types=3
size=1280x720
fps=30
while (($#)); do
    case $1 in
    --portal) producer=$2; shift 2 ;;
    --source-types) source_types=$2; shift 2 ;;
    --size) size=$2; shift 2 ;;
    --fps) fps=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "usage: wayland-session.sh [--portal PRODUCER] [--source-types N] [--size WxH] [--fps N] -- COMMAND..." >&2; exit 2 ;;
    esac
done
(($#)) || { echo "wayland-session.sh: no command" >&2; exit 2; }

skip() {
    echo "skipped: $*"
    exit 77
}

needed=(sway setpriv)
[[ -n $producer ]] && needed+=(dbus-daemon pipewire wireplumber)
portal_frontend=/usr/libexec/xdg-desktop-portal
if [[ -n $producer && ! -x $portal_frontend ]]; then
    skip "the desktop portal ($portal_frontend) is not installed (scripts/install-deps.sh installs it)"
fi
for tool in "${needed[@]}"; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps.sh installs it)"
done
if [[ -n $producer ]] && ! /usr/bin/python3 -c 'import dbus, gi' 2>/dev/null; then
    skip "python3-dbus and python3-gi are not installed (scripts/install-deps.sh installs them)"
fi

# The compositor's user: this one, unless it is root, which wlroots refuses.
test_user=$(id -un)
if (($(id -u) == 0)); then
    test_user=pelkor-wayland
    # Another session starting at the same time may make it first.
    if ! id "$test_user" >/dev/null 2>&1; then
        useradd --system --no-create-home --shell /usr/sbin/nologin "$test_user" 2>/dev/null ||
            id "$test_user" >/dev/null 2>&1 ||
            skip "no unprivileged user for the compositor could be made (useradd)"
    fi
fi

work=$(mktemp -d)
pids=()
finish() {
    local status=$? i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
    done
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        wait "${pids[i]}" 2>/dev/null || true
    done
    rm -rf "$work"
    exit "$status"
}
trap finish EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

runtime=$work/runtime
mkdir -m 700 "$runtime" "$work/home" "$work/config" "$work/data" "$work/cache" "$work/files"
chmod 711 "$work"
chown "$test_user" "$runtime"
cat >"$work/sway.conf" <<CONF
output * mode $size
output HEADLESS-2 bg #30a050 solid_color
default_border none
focus_follows_mouse no
CONF
chmod 644 "$work/sway.conf"

# Each process started here also ends with this script (the parent's death signal), should it be
# killed outright where its clean-up cannot run.
setpriv --reuid="$test_user" --regid="$(id -g "$test_user")" --clear-groups --pdeathsig TERM \
    env -i PATH=/usr/bin:/bin HOME="$runtime" XDG_RUNTIME_DIR="$runtime" WLR_BACKENDS=headless \
    WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman sway -c "$work/sway.conf" >"$work/sway.log" 2>&1 &
pids+=($!)
for ((i = 0; i < 100; i++)); do
    socket=$(find "$runtime" -maxdepth 1 -type s -name 'wayland-*' -print -quit)
    sway_ipc=$(find "$runtime" -maxdepth 1 -type s -name 'sway-ipc.*' -print -quit)
    [[ -n $socket && -n $sway_ipc ]] && break
    kill -0 "${pids[0]}" 2>/dev/null || break
    sleep 0.1
done
if [[ -z ${socket:-} || -z ${sway_ipc:-} ]]; then
    skip "headless sway did not start here: $(tail -n 3 "$work/sway.log" | tr '\n' ' ')"
fi

export WAYLAND_DISPLAY=$socket XDG_RUNTIME_DIR=$runtime SWAYSOCK=$sway_ipc XDG_SESSION_TYPE=wayland
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_CACHE_HOME=$work/cache
export WAYLAND_SESSION_WORK=$work/files
unset DISPLAY

if [[ -n $producer ]]; then
    # A bus that starts only the portal's grant store on demand: not another portal, nor the document
    # portal (which would mount a file system in the runtime folder).
    mkdir "$work/services"
    cp /usr/share/dbus-1/services/org.freedesktop.impl.portal.PermissionStore.service "$work/services/" 2>/dev/null || true
    cat >"$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$runtime/bus</listen>
  <servicedir>$work/services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
    setpriv --pdeathsig TERM dbus-daemon --config-file="$work/bus.conf" --nofork >"$work/dbus.log" 2>&1 &
    pids+=($!)
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$runtime/bus
    setpriv --pdeathsig TERM pipewire >"$work/pipewire.log" 2>&1 &
    pids+=($!)
    for ((i = 0; i < 50; i++)); do
        [[ -S $runtime/bus && -S $runtime/pipewire-0 ]] && break
        sleep 0.1
    done
    [[ -S $runtime/pipewire-0 ]] || skip "PipeWire did not start here: $(tail -n 3 "$work/pipewire.log" | tr '\n' ' ')"
    setpriv --pdeathsig TERM wireplumber >"$work/wireplumber.log" 2>&1 &
    pids+=($!)
    export PORTAL_LOG=$work/files/portal.log
    setpriv --pdeathsig TERM /usr/bin/python3 "$here/stand-in-portal.py" --producer "$producer" --log "$PORTAL_LOG" \
        --source-types "$source_types" --screen-size "$size" --fps "$fps" >"$work/portal.out" 2>&1 &
    pids+=($!)
    for ((i = 0; i < 100; i++)); do
        grep -q '^ready' "$PORTAL_LOG" 2>/dev/null && break
        sleep 0.1
    done
    grep -q '^ready' "$PORTAL_LOG" 2>/dev/null || { cat "$work/portal.out" >&2; echo "the stand-in portal did not start" >&2; exit 1; }
    # Ready once it shows what the backend offers (which it reads from the backend after it started).
    portal_ready() {
        /usr/bin/python3 - <<'PY' 2>/dev/null
import dbus
portal = dbus.SessionBus().get_object("org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop")
properties = dbus.Interface(portal, dbus.PROPERTIES_IFACE)
offered = [properties.Get("org.freedesktop.portal.ScreenCast", "AvailableSourceTypes"),
           properties.Get("org.freedesktop.portal.RemoteDesktop", "AvailableDeviceTypes")]
raise SystemExit(0 if all(offered) else 1)
PY
    }
    # The desktop's portal, finding the stand-in as this desktop's backend. Started here, before the bus
    # could start one of its own without these variables; started again (up to three times) where it
    # ended at once without finding the backend, as it now and then does on a loaded machine.
    for ((attempt = 0; attempt < 3; attempt++)); do
        XDG_DESKTOP_PORTAL_DIR=$here XDG_CURRENT_DESKTOP=pelkortest setpriv --pdeathsig TERM "$portal_frontend" >>"$work/portal-frontend.log" 2>&1 &
        frontend=$!
        for ((i = 0; i < 100; i++)); do
            portal_ready && break
            kill -0 "$frontend" 2>/dev/null || break
            sleep 0.1
        done
        if kill -0 "$frontend" 2>/dev/null; then
            pids+=("$frontend")
            break
        fi
        wait "$frontend" 2>/dev/null || true
    done
    portal_ready ||
        { tail -n 20 "$work/portal-frontend.log" >&2; echo "the desktop portal did not start" >&2; exit 1; }
fi

status=0
"$@" || status=$?
exit "$status"
