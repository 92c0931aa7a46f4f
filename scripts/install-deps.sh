#!/usr/bin/env bash
# Installs every Debian 12 package the build, the tests and the application need.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
    # toolchain and build
    cmake g++ make pkg-config clang-format
    # Qt 6, coroutines, tests
    qt6-base-dev qt6-base-dev-tools qcoro-qt6-dev libgtest-dev libgmock-dev
    # sound server client and private sound servers for tests and headless runs: PulseAudio, and
    # PipeWire with its PulseAudio-compatible server (both installed side by side)
    libpulse-dev pulseaudio pulseaudio-utils
    pipewire pipewire-pulse wireplumber
    # encoding, resampling
    libavformat-dev libavcodec-dev libswresample-dev libavutil-dev ffmpeg sox
    # credential store
    libsecret-1-dev gnome-keyring dbus
    # HTTP stand-in server, JSON, TLS
    libcpp-httplib-dev nlohmann-json3-dev libssl-dev openssl curl
    # headless windows and legible screenshots
    xvfb xauth fonts-dejavu-core xdotool
    # a small window manager and X tools for the window tests; Python's D-Bus bindings for the
    # tests' stand-in desktop services (notifications, tray, screen saver) on a private session bus
    openbox x11-utils python3-gi gir1.2-glib-2.0
    # the accessibility bus and its Python bindings, for the screen-reader test
    at-spi2-core gir1.2-atspi-2.0
    # the window's SVG icons and artwork
    libqt6svg6
    # misc used by scripts
    procps coreutils
    # desktop integration and packaging
    desktop-file-utils appstream dpkg-dev file lintian help2man
    # translations: lupdate/lrelease and their CMake functions, Qt's own German texts, and the
    # German locale the translation tests run in
    qt6-l10n-tools qt6-tools-dev qt6-translations-l10n locales
)
# Optional groups for scripts outside `make test`: `fuzz` is clang 19 with its libFuzzer runtime
# (scripts/fuzz.sh).
for group in "$@"; do
    case $group in
        fuzz) packages+=(clang-19 libclang-rt-19-dev) ;;
        *) echo "install-deps.sh: unknown group: $group" >&2; exit 2 ;;
    esac
done

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

missing=()
for package in "${packages[@]}"; do
    if ! installed "$package"; then
        missing+=("$package")
    fi
done

if [ "$(id -u)" -ne 0 ]; then
    SUDO=sudo
else
    SUDO=
fi

# The German translation's tests run the programs under LANG=de_DE.UTF-8.
add_german_locale() {
    if ! locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
        $SUDO localedef -i de_DE -f UTF-8 de_DE.UTF-8
    fi
}

if [ ${#missing[@]} -eq 0 ]; then
    add_german_locale
    exit 0
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq

# Installing pipewire-pulse makes it every user's sound server from the next login on (its
# login units conflict with PulseAudio's). The tests start private servers of their own, so a
# desktop that logs in to PulseAudio keeps doing so.
keep_pulse_login=no
if ! installed pipewire-pulse && systemctl --global is-enabled --quiet pulseaudio.socket 2>/dev/null; then
    keep_pulse_login=yes
fi

$SUDO apt-get install -y --no-install-recommends "${missing[@]}"

if [ "$keep_pulse_login" = yes ]; then
    $SUDO systemctl --global disable --quiet pipewire-pulse.socket pipewire-pulse.service || true
fi

add_german_locale
