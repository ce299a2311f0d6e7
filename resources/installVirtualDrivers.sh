#!/usr/bin/env bash
# Puts the virtual drivers marked "NO" in place.
# Usage: installVirtualDrivers.sh <resources folder> <speaker YES|NO> <microphone YES|NO> <camera YES|NO>
# YES means present and current: left alone. Every step logs a line; the exit status is 0 unless the
# arguments are wrong, since the application checks the outcome at its next launch.
set -uo pipefail

log() { echo "installVirtualDrivers: $*"; }

if [[ $# -ne 4 ]]; then
    log "usage: $0 <resources folder> <speaker YES|NO> <microphone YES|NO> <camera YES|NO>"
    exit 2
fi
resources=$1
speaker=$2
microphone=$3
camera=$4
for answer in "$speaker" "$microphone" "$camera"; do
    if [[ $answer != YES && $answer != NO ]]; then
        log "answer \"$answer\" is neither YES nor NO"
        exit 2
    fi
done

# The same place the application looks in (XDG rules: an unset or relative XDG_DATA_HOME is ignored).
if [[ ${XDG_DATA_HOME:-} == /* ]]; then
    data_home=$XDG_DATA_HOME
else
    data_home=$HOME/.local/share
fi
installed="$data_home/pelkor/drivers"

# Replaces the installed copy of a driver folder with the shipped one.
install_driver() {
    local name=$1 source="$resources/drivers/$1"
    if [[ ! -d $source ]]; then
        log "$name is not among the resources ($source)"
        return
    fi
    if mkdir -p "$installed" && rm -rf "${installed:?}/$name" && cp -R "$source" "$installed/$name"; then
        log "installed $name into $installed"
    else
        log "could not install $name into $installed"
    fi
}

# Loads a module unless a device of that name exists already, so running twice changes nothing.
load_once() {
    local kind=$1 name=$2
    shift 2
    if pactl list short "$kind" | cut -f2 | grep -qxF "$name"; then
        log "$name exists already"
    elif pactl load-module "$@" >/dev/null; then
        log "loaded $1 for $name"
    else
        log "could not load $1 for $name"
    fi
}

# The loopback device: a null sink that everything plays into, and a two-channel source over its
# monitor that the sound capture records from.
setup_loopback() {
    if ! command -v pactl >/dev/null 2>&1; then
        log "pactl not found: the loopback audio device \"ROZI-Audio\" is not set up"
        return
    fi
    if ! pactl info >/dev/null 2>&1; then
        log "no PulseAudio server answers: the loopback audio device \"ROZI-Audio\" is not set up"
        return
    fi
    load_once sinks ROZI-Audio module-null-sink sink_name=ROZI-Audio channels=2 \
        sink_properties=device.description=ROZI-Audio
    load_once sources ROZI-Audio2ch_UID module-remap-source master=ROZI-Audio.monitor \
        source_name=ROZI-Audio2ch_UID channels=2 source_properties=device.description=ROZI-Audio-2ch
}

[[ $speaker == NO ]] && install_driver ROZIAudio2.driver
[[ $microphone == NO ]] && install_driver ROZIAudio.driver
if [[ $speaker == NO || $microphone == NO ]]; then
    setup_loopback
fi
if [[ $camera == NO ]]; then
    log "no virtual camera exists on this platform: the TV's camera cannot be offered to other programs"
    # Recorded as installed, so that the missing camera does not hold every launch at this step.
    install_driver rozi-mac-virtualcam.plugin
fi
exit 0
