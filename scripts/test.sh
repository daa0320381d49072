#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test suite: the plain
# build, then the same suites under AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --workflow --preset default
cmake --workflow --preset asan
