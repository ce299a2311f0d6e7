#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the tools need. Idempotent: when everything
# is present it touches nothing and asks no registry.
set -euo pipefail

packages=(
    # toolchain and test framework
    build-essential cmake ninja-build pkg-config python3 libgtest-dev libgmock-dev
    # clang with its fuzzer and sanitizer runtimes, for the fuzz targets
    clang libclang-rt-dev
    # libraries of the core
    libasio-dev nlohmann-json3-dev libssl-dev uuid-dev zlib1g-dev media-types libavahi-client-dev libxml2-dev libnatpmp-dev
    # downloads of the files the TV offers
    libcurl4-openssl-dev
    # video encoding, a still from a video file, conversion, screen capture and input posting (X11), a private X server for their tests
    libx264-dev libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libyuv-dev
    # sound: the PulseAudio client library, and a private daemon with pactl for the sound tests
    libpulse-dev pulseaudio pulseaudio-utils
    libx11-dev libxext-dev libxcomposite-dev libxfixes-dev libxrandr-dev libxtst-dev xvfb x11-utils x11-xserver-utils
    # the application's windows (Qt 6 Widgets, with moc and uic), and the platform plug-ins its tests run on
    qt6-base-dev qt6-base-dev-tools libqt6widgets6 qt6-qpa-plugins qt6-svg-dev libqt6svg6
    # the end-to-end test and the demo drive the real window with synthetic input
    xdotool
    # Wayland sessions: the compositor's protocols (client library, keymaps), the desktop portal over
    # D-Bus (sd-bus) with its PipeWire streams, the portal's interface descriptions
    libwayland-dev wayland-protocols libxkbcommon-dev libsystemd-dev libpipewire-0.3-dev libspa-0.2-dev xdg-desktop-portal-dev
    # and their tests: headless sway, a private session bus with PipeWire and WirePlumber, the portals, wev
    # and grim to read a session back, the stand-in portal's Python D-Bus bindings
    sway dbus pipewire pipewire-bin wireplumber xdg-desktop-portal xdg-desktop-portal-wlr wev grim python3-dbus python3-gi
    # the application's end-to-end test on Wayland: Qt's Wayland platform plug-in, and wtype to type into it
    qt6-wayland wtype
    # command-line peers the tests check our output with
    openssl unzip zip ffmpeg gzip curl wget wrk litmus cadaver rclone libxml2-utils
    # network namespaces for the NAT mapping and IPv4-only tests
    iproute2 util-linux
    # a private Avahi daemon on its own system bus, for the DNS-SD connect test (started only there)
    avahi-daemon dbus-daemon
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    sudo_cmd=()
    [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
