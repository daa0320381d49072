#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test suite: the plain
# build's fake-engine suites, the same and the real-engine suite under
# AddressSanitizer and UBSan, the fake-engine suites under ThreadSanitizer, fuzzing, the Windows
# build under Wine, then the real-engine suite again on libobs 30 (Debian 13)
# and libobs 32 (Debian testing), each in a Debian root of its own; the Debian 13
# root also runs the Windows agent on OBS Studio's own Windows engine under Wine 10.
# Each leg prints what it runs and how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS

# leg <title> <command...>: runs one leg, then prints its duration.
leg() {
    local title=$1 begin=$SECONDS
    shift
    echo "=== $title: $*"
    "$@"
    echo "=== $title: $((SECONDS - begin)) s (total $((SECONDS - started)) s)"
}

leg packages bash scripts/install-deps.sh
# The sources keep the repository's format.
format_check() { git ls-files '*.cpp' '*.h' | xargs -r clang-format --dry-run --Werror; }
leg format format_check
rm -rf build/default/protocol-log
# Release (-O3, as a packager builds) with debug information, warnings as errors. The
# real-engine suite is left to the ASan leg (the same libobs 29) and to the roots, which
# run it on this release build with libobs 30 and 32.
default_leg() {
    cmake --preset default && cmake --build --preset default && ctest --preset default -LE real
}
leg default default_leg
# Every event the suites received and every command they sent that the agent
# accepted, checked against the protocol's JSON Schemas.
leg schemas python3 tests/schema/check_protocol.py docs build/default/protocol-log
# The same schemas as Node controllers compile them: Ajv 8 in strict mode, pinned by its lock file.
ajv_check() { (cd tests/schema/ajv && npm ci --no-audit --no-fund && node check.js ../../../docs); }
leg ajv ajv_check
# The Node client (clients/node): its types against the schemas, its tests on this build's agent, its package.
leg node bash clients/node/test.sh
# The Debian package, installed with apt, records a session with the example controller.
leg package bash scripts/package-smoke.sh
leg asan cmake --workflow --preset asan
# Reader thread, engine callbacks, event writer, probe lock and stop channels under ThreadSanitizer.
leg tsan cmake --workflow --preset tsan
# The decoder and the line-to-events path, 30 s each.
leg fuzz bash scripts/fuzz.sh 30

# The Windows agent, cross-compiled, with its tests under Wine. One wineserver
# for the whole run keeps each test from paying Wine's start-up.
windows() (
    export WINEPREFIX="$(pwd)/build/windows/wineprefix" WINEDEBUG=-all DISPLAY=
    mkdir -p "$WINEPREFIX"
    wineserver -p
    wine cmd /c exit >/dev/null 2>&1 || true
    local status=0
    # The ZIP: the agent, the layout program and the reference, importing only Windows' DLLs.
    cmake --workflow --preset windows && cpack --preset windows &&
        bash scripts/check-imports.sh || status=$?
    wineserver -k || true
    return $status
)
leg windows windows

# The engines our users run: libobs 30 (Debian 13) and 32 (Debian testing), each
# in a root of its own: the ABI check, the real-engine suite, the schema check
# and a Debian package built, installed and smoked there. In the Debian 13 root,
# Wine 10 runs the Windows programs built above on OBS Studio's Windows engine.
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
leg "libobs 30 and the Windows engine under Wine 10 (Debian 13)" $sudo bash scripts/debian-root.sh debian13
leg "libobs 32 (Debian testing)" $sudo bash scripts/debian-root.sh testing
echo "=== all tests passed in $((SECONDS - started)) s"
