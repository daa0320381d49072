#!/usr/bin/env bash
# Checks that every Windows program and library in the ZIP imports only
# Windows' own DLLs and the engine's obs.dll: anything else would have to be
# shipped beside it, or the program would not start on a user's machine.
# Usage: scripts/check-imports.sh [ZIP, default the newest in build/windows/packages]
set -euo pipefail
cd "$(dirname "$0")/.."
zip=$(realpath "${1:-$(ls -t build/windows/packages/*.zip | head -n 1)}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && cmake -E tar xf "$zip")

allowed='^(kernel32|user32|advapi32|gdi32|shell32|ole32|oleaut32|version|msvcrt|ucrtbase|ntdll|ws2_32|bcrypt|dxgi|d3d11|dwmapi|api-ms-win-.*|obs)\.dll$'
checked=0
faults=0
while IFS= read -r -d '' binary; do
    checked=$((checked + 1))
    # objdump's failure ends the script, rather than reading as a file without imports.
    imports=$(x86_64-w64-mingw32-objdump -p "$binary" | sed -n 's/^[[:space:]]*DLL Name: //p')
    grep -qi '^kernel32\.dll$' <<<"$imports" || {
        echo "${binary#"$work"/}: no import table read" >&2
        faults=$((faults + 1))
    }
    while read -r dll; do
        if ! tr 'A-Z' 'a-z' <<<"$dll" | grep -qE "$allowed"; then
            echo "${binary#"$work"/} imports $dll" >&2
            faults=$((faults + 1))
        fi
    done <<<"$imports"
done < <(find "$work" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0)
echo "imports: $checked programs and libraries checked in $(basename "$zip"), $faults not allowed"
[ "$checked" -gt 0 ] && [ "$faults" -eq 0 ]
