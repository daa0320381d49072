#!/usr/bin/env bash
# Builds and tests the project against libobs 30 inside a Debian 13 root.
# The root is made once with debootstrap and kept in $KALTO_DEBIAN13_ROOT
# (default /var/cache/kalto-obs/debian13); later runs reuse it and only add the
# packages it lacks. Needs root.
# Usage: scripts/debian13.sh [ctest arguments, default: the ABI layout and real-engine tests]
#        scripts/debian13.sh bench [runs]   (scripts/bench.sh on libobs 30)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
root=${KALTO_DEBIAN13_ROOT:-/var/cache/kalto-obs/debian13}
mirror=${KALTO_DEBIAN_MIRROR:-http://deb.debian.org/debian}
packages=(
    cmake g++ make pkg-config libgtest-dev nlohmann-json3-dev
    libobs-dev obs-studio libx11-dev libxcomposite-dev libxext-dev pulseaudio
    xvfb x11-utils ffmpeg python3 python3-jsonschema
)

if [ "$(id -u)" -ne 0 ]; then
    echo "debian13.sh makes and enters a chroot: run it as root" >&2
    exit 1
fi
command -v debootstrap >/dev/null || {
    apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y debootstrap
}

# Runs a command inside the root with /proc, /dev and the sources mounted, in a
# mount namespace of its own so that nothing stays mounted when it ends.
in_root() {
    unshare --mount --propagation private -- bash -c '
        set -e
        root=$1; top=$2; shift 2
        mount -t proc proc "$root/proc"
        mount --rbind /dev "$root/dev"
        mount -t tmpfs tmpfs "$root/tmp"
        mkdir -p "$root/src"
        mount --bind "$top" "$root/src"
        cp /etc/resolv.conf "$root/etc/resolv.conf"
        exec chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
            DEBIAN_FRONTEND=noninteractive "$@"' in_root "$root" "$top" "$@"
}

if [ ! -f "$root/.kalto-base" ]; then
    rm -rf "$root"
    mkdir -p "$root"
    debootstrap --variant=minbase trixie "$root" "$mirror"
    touch "$root/.kalto-base"
fi
missing=$(in_root bash -c 'for p; do
    dpkg-query -W -f="\${Status}" "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
done' bash "${packages[@]}")
if [ -n "$missing" ]; then
    in_root apt-get update
    in_root apt-get install -y --no-install-recommends $missing
fi

if [ "${1:-}" = bench ]; then
    # On a copy of the sources: the benchmark builds in the tree it runs from.
    in_root bash -c 'cp -r /src /tmp/kalto && rm -rf /tmp/kalto/build &&
        cd /tmp/kalto && KALTO_DEPS_PRESENT=1 bash scripts/bench.sh "$1"' bash "${2:-5}"
    exit
fi

tests=("$@")
[ ${#tests[@]} -gt 0 ] || tests=(-R 'EngineAbi|RealEngine|Desktop|real_engine_install|RawVideo')
in_root bash -c '
    set -e
    echo "libobs $(dpkg-query -W -f="\${Version}" libobs-dev) in Debian $(cat /etc/debian_version)"
    rm -rf /build
    cmake -S /src -B /build -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build /build -j2
    cd /build && ctest --output-on-failure --timeout 120 "$@"
    python3 /src/tests/schema/check_protocol.py /src/docs /build/protocol-log' bash "${tests[@]}"
