#!/usr/bin/env bash
# Runs inside a Debian root, on the copy of the sources in /kalto/src; started by
# scripts/debian-root.sh, which mounts what it needs.
# Usage: root-leg.sh [ctest arguments] | bench [runs]
set -euo pipefail
cd /kalto/src
source scripts/lib/packages.sh

started=$SECONDS
# step <title> <command...>: runs one step of the leg and prints how long it took.
step() {
    local title=$1 begin=$SECONDS
    shift
    echo "=== $title: $*"
    "$@"
    echo "=== $title: $((SECONDS - begin)) s (leg $((SECONDS - started)) s)"
}

# With the Windows engine beside the sources (debian13), the Windows suite runs too.
wine=""
[ -d /kalto/windows-engine ] && wine=1
# The build and test subset of the one list; testing has ffplay in a package of its own.
packages=("${build_test_packages[@]}")
[ -z "$wine" ] || packages+=("${wine_packages[@]}")
mapfile -t missing < <(missing_packages "${packages[@]}" ffplay)
if [ ${#missing[@]} -gt 0 ]; then
    apt-get update >/dev/null
    [ -n "$(apt-cache madison ffplay)" ] || mapfile -t missing < <(printf '%s\n' "${missing[@]}" | grep -vx ffplay)
    [ ${#missing[@]} -eq 0 ] || apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null
fi
. /etc/os-release
echo "libobs $(dpkg-query -W -f='${Version}' libobs-dev) in Debian $(cat /etc/debian_version) ($VERSION_CODENAME)"

if [ "${1:-}" = bench ]; then
    KALTO_DEPS_PRESENT=1 exec bash scripts/bench.sh "${2:-5}"
fi

tests=("$@")
suites='EngineAbi|RealEngine|Desktop|real_engine_install|real_window|real_sound|RealFault|RawVideo'
[ -z "$wine" ] || suites+='|windows_engine'
[ ${#tests[@]} -gt 0 ] || tests=(-R "$suites")
# Only what these tests and the package need; cpack then installs without building the rest.
configure=(-DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON -DKALTO_PACKAGE_SUFFIX="+$VERSION_CODENAME"
    -DKALTO_COMMIT="${KALTO_COMMIT:-}")
targets=(kalto-obs kalto_engine win-capture win-wasapi abi_tests engine_version_tests real_engine_tests)
if [ -n "$wine" ]; then
    configure+=(-DKALTO_WINE_PROGRAMS=/kalto/windows-programs -DKALTO_WINE_ENGINE=/kalto/windows-engine)
    targets+=(windows_engine_tests)
fi
step configure cmake --preset default "${configure[@]}" --log-level=WARNING
step build cmake --build --preset default --target "${targets[@]}"
step tests ctest --test-dir build/default --output-on-failure --timeout 120 "${tests[@]}"
step schemas python3 tests/schema/check_protocol.py docs build/default/protocol-log
step package env KALTO_DEPS_PRESENT=1 bash scripts/package-smoke.sh
