#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test suite: the plain
# build (real engine included), the same suites under AddressSanitizer and
# UBSan, the fake-engine suites under ThreadSanitizer, a minute of fuzzing per
# target, the Windows build under Wine, then the real-engine suite again on
# libobs 30 inside a Debian 13 root.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# The sources keep the repository's format.
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
rm -rf build/default/protocol-log
# Release (-O3, as a packager builds) with debug information, warnings as errors.
cmake --workflow --preset default
# Every event the suites received and every command they sent that the agent
# accepted, checked against the protocol's JSON Schemas.
python3 tests/schema/check_protocol.py docs build/default/protocol-log
# The same schemas as Node controllers compile them: Ajv 8 in strict mode, pinned by its lock file.
(cd tests/schema/ajv && npm ci --no-audit --no-fund && node check.js ../../../docs)
# The Debian package, installed with apt, records a session with the example controller.
bash scripts/package-smoke.sh
cmake --workflow --preset asan
# Reader thread, engine callbacks, event writer, probe lock and stop channels under ThreadSanitizer.
cmake --workflow --preset tsan
# The decoder and the line-to-events path, a minute each.
bash scripts/fuzz.sh 60

# The Windows agent, cross-compiled, with its tests under Wine. One wineserver
# for the whole run keeps each test from paying Wine's start-up.
export WINEPREFIX="$(pwd)/build/windows/wineprefix" WINEDEBUG=-all DISPLAY=
mkdir -p "$WINEPREFIX"
wineserver -p
wine cmd /c exit >/dev/null 2>&1 || true
status=0
cmake --workflow --preset windows && cpack --preset windows || status=$?
wineserver -k || true
[ $status -eq 0 ] || exit $status

# libobs 30, as our users' engines are: the ABI check, the real-engine suite and
# our engine library's forwarding, built and run inside a Debian 13 root.
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo bash scripts/debian13.sh
