#!/usr/bin/env bash
# Installs, from Debian's packages, everything the build, the tests and the demo use.
set -euo pipefail
# Inside a prepared root (scripts/debian13.sh) everything needed is there already.
[ -z "${KALTO_DEPS_PRESENT:-}" ] || exit 0
packages=(
    cmake g++ make pkg-config clang-format
    libgtest-dev nlohmann-json3-dev
    libobs-dev libobs0 obs-studio libx11-dev libxcomposite-dev libxext-dev pulseaudio pulseaudio-utils
    xvfb x11-utils ffmpeg python3 python3-jsonschema dpkg-dev
    g++-mingw-w64-x86-64 mingw-w64-tools wine64 wine googletest
    clang libclang-rt-14-dev
)
# Node and npm for the schemas' Ajv check; a Node already on the PATH is kept,
# since Debian's npm would conflict with the npm installed beside it.
command -v node >/dev/null && command -v npm >/dev/null || packages+=(nodejs npm)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
