#!/usr/bin/env bash
# The Node client's CI leg: its packages from the lock file, its generated types
# checked against the protocol's schemas, its tests (on the agent of the default
# build and its installed real-engine tree), and the package npm pack makes.
set -euo pipefail
cd "$(dirname "$0")"
npm ci --no-audit --no-fund
node scripts/generate-types.mjs --check
npx prettier --check . >/dev/null || { npx prettier --list-different .; echo "not formatted: run npx prettier --write ." >&2; exit 1; }
npm test
# The tarball holds the built JavaScript and its declarations, the repository's
# licence, and no test.
packed=$(mktemp -d)
trap 'rm -rf "$packed"' EXIT
# What the tests ran: npm test has just built dist afresh.
npm pack --ignore-scripts --pack-destination "$packed" >/dev/null 2>&1
tar -tzf "$packed"/kalto-obs-*.tgz | sort >"$packed/files"
for file in index.js index.d.ts agent.js agent.d.ts schema/commands.d.ts schema/events.d.ts schema/list.d.ts; do
    grep -qx "package/dist/$file" "$packed/files" || { echo "the package lacks dist/$file" >&2; exit 1; }
done
tar -xzOf "$packed"/kalto-obs-*.tgz package/LICENSE | cmp -s - ../../LICENSE ||
    { echo "the package's LICENSE is not the repository's" >&2; exit 1; }
if grep -E 'test|harness|\.ts$' "$packed/files" | grep -v '\.d\.ts$'; then
    echo "the package holds the files above, which are not the client's" >&2
    exit 1
fi
echo "package: $(wc -l <"$packed/files") files"
