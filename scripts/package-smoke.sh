#!/usr/bin/env bash
# Builds the Debian package from the default preset, installs it with apt, and
# records a short session through /opt/kalto-obs with the example controller
# under a virtual display; then checks that every file written plays.
# Expects the default preset to be built already (scripts/test.sh does it).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/desktop.sh
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

rm -rf build/default/packages
cpack --preset default >/dev/null
deb=$(ls build/default/packages/kalto-obs_*.deb)
echo "package: $deb"
# It must depend on the package holding this system's libobs (libobs0, or libobs0t64 from Debian 13).
libobs_package=$(dpkg -S "$(readlink -f /usr/lib/*/libobs.so.0)" | cut -d: -f1)
depends=$(dpkg-deb -f "$deb" Depends)
echo "depends: $depends"
grep -qw -- "$libobs_package" <<<"$depends" || { echo "$deb does not depend on $libobs_package" >&2; exit 1; }
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --reinstall "./$deb" >/dev/null
# The licence, where Debian keeps it and beside the reference.
for licence in /usr/share/doc/kalto-obs/copyright /opt/kalto-obs/docs/kalto-obs/LICENSE; do
    dpkg -L kalto-obs | grep -qx "$licence" || { echo "the package lacks $licence" >&2; exit 1; }
done
/opt/kalto-obs/bin/64bit/kalto-obs --version

out=$(mktemp -d)
pids=()
trap 'stop_children; rm -rf "$out"' EXIT
start_desktop 1280x720
python3 examples/controller.py --list /opt/kalto-obs/bin/64bit/kalto-obs
python3 examples/controller.py /opt/kalto-obs/bin/64bit/kalto-obs "$out" 0 2

for f in "$out"/session.mkv "$out"/clips/*.mp4; do
    frames=$(ffprobe -v error -count_frames -select_streams v:0 \
        -show_entries stream=nb_read_frames -of csv=p=0 "$f")
    echo "$f: $frames frames"
    [ "${frames:-0}" -gt 0 ] || { echo "$f does not play" >&2; exit 1; }
done
echo "the installed package recorded a session that plays"
