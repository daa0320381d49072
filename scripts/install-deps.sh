#!/usr/bin/env bash
# Installs, from Debian's packages, everything the build, the tests and the demo use.
set -euo pipefail
# Inside a prepared root (scripts/debian-root.sh) everything needed is there already.
[ -z "${KALTO_DEPS_PRESENT:-}" ] || exit 0
source "$(dirname "$0")/lib/packages.sh"
packages=("${build_test_packages[@]}" "${host_packages[@]}")
# Node and npm for the schemas' Ajv check; a Node already on the PATH is kept,
# since Debian's npm would conflict with the npm installed beside it.
command -v node >/dev/null && command -v npm >/dev/null || packages+=(nodejs npm)
mapfile -t missing < <(missing_packages "${packages[@]}")
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
