#!/usr/bin/env bash
# Builds and tests the project against the libobs of a Debian root: `debian13`
# (trixie, libobs 30) or `testing` (forky, libobs 32). The root is made once with
# debootstrap from the machine's own Debian mirror and kept in
# /var/cache/kalto-obs/<name>; later runs reuse it and only add the packages it
# lacks. In the root: the ABI check, the real-engine suite, the schema check,
# then the Debian package, built there, installed with apt and smoked.
# The debian13 root also runs the Windows agent on OBS Studio's own Windows
# engine under Wine 10: the engine comes from the npm package noobs@0.0.184
# (its package/dist only, checked against its integrity and kept in
# /var/cache/kalto-obs), the Windows programs from this machine's MinGW build.
# Needs root and a mount and PID namespace (CAP_SYS_ADMIN): everything started
# in the root ends with the run.
# Usage: scripts/debian-root.sh <debian13|testing> [ctest arguments]
#        scripts/debian-root.sh <debian13|testing> bench [runs]   (scripts/bench.sh there)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

name=${1:-}
case $name in
debian13) suite=trixie script="" ;;
# Debian 12's debootstrap has no script of its own for forky.
testing) suite=forky script=/usr/share/debootstrap/scripts/sid ;;
*)
    echo "usage: $0 <debian13|testing> [ctest arguments | bench [runs]]" >&2
    exit 2
    ;;
esac
shift
roots=${KALTO_ROOTS:-/var/cache/kalto-obs}
root=$roots/$name

if [ "$(id -u)" -ne 0 ]; then
    echo "debian-root.sh makes and enters a chroot: run it as root" >&2
    exit 1
fi
if ! refusal=$(unshare --mount --pid --fork true 2>&1); then
    echo "debian-root.sh: unshare --mount --pid --fork is refused here (${refusal:-no reason given})." >&2
    echo "The Debian roots need CAP_SYS_ADMIN (a container without it cannot run them)." >&2
    exit 1
fi

# One run per root: others wait on the same lock (flock $roots/<name>.lock).
mkdir -p "$roots"
exec 9>"$roots/$name.lock"
flock -n 9 || {
    echo "waiting for $roots/$name.lock"
    flock 9
}

# The first Debian archive of the machine's own apt sources (deb822 or one-line
# form): an entry for the machine's own release with a "main" component, which
# leaves out the security archive and other vendors' repositories.
host_mirror() {
    local codename
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    shopt -s nullglob
    local stanzas=(/etc/apt/sources.list.d/*.sources) lines=(/etc/apt/sources.list.d/*.list)
    [ -f /etc/apt/sources.list ] && lines+=(/etc/apt/sources.list)
    {
        [ ${#stanzas[@]} -eq 0 ] || awk -v want="$codename" 'BEGIN { RS = ""; FS = "\n" }
            {
                uris = ""; suite = 0; main = 0
                for (i = 1; i <= NF; i++) {
                    n = split($i, w, /[[:space:]]+/); key = tolower(w[1])
                    for (j = 2; j <= n; j++) {
                        if (key == "uris:") uris = uris " " w[j]
                        if (key == "suites:" && w[j] == want) suite = 1
                        if (key == "components:" && w[j] == "main") main = 1
                    }
                }
                if (suite && main) { n = split(uris, u, " "); for (j = 1; j <= n; j++) print u[j] }
            }' "${stanzas[@]}"
        [ ${#lines[@]} -eq 0 ] || sed -nE \
            "s/^[[:space:]]*deb[[:space:]]+(\[[^]]*\][[:space:]]+)?([^[:space:]]+)[[:space:]]+$codename[[:space:]].*\bmain\b.*/\2/p" \
            "${lines[@]}"
    } | grep -E '^(https?|file):' | head -n 1 || true
}

if [ ! -f "$root/.kalto-base" ]; then
    mirror=${KALTO_DEBIAN_MIRROR:-$(host_mirror)}
    if [ -z "$mirror" ]; then
        echo "no Debian mirror in /etc/apt/sources.list{,.d}: set KALTO_DEBIAN_MIRROR" >&2
        exit 1
    fi
    command -v debootstrap >/dev/null || {
        apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y debootstrap
    }
    rm -rf --one-file-system "$root"
    mkdir -p "$root"
    debootstrap --variant=minbase "$suite" "$root" "$mirror" $script
    touch "$root/.kalto-base"
fi

# A mirror serving a snapshot has Release files past their date: the root checks
# those dates as the host's apt does.
validity=$(grep -hsE '^[^#]*Acquire::(Check-Valid-Until|Check-Date)' /etc/apt/apt.conf /etc/apt/apt.conf.d/* || true)
if [ -n "$validity" ]; then
    printf '%s\n' "$validity" >"$root/etc/apt/apt.conf.d/90kalto-host"
else
    rm -f "$root/etc/apt/apt.conf.d/90kalto-host"
fi

# The sources without any build tree: what git tracks plus new files it does not ignore.
rm -rf --one-file-system "$root/kalto"
mkdir -p "$root/kalto/src"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard |
        tar --null -T - --ignore-failed-read -cf - 2>/dev/null | tar -C "$root/kalto/src" -xf -
else
    tar --exclude=./build -cf - . | tar -C "$root/kalto/src" -xf -
fi

# OBS Studio's Windows engine (obs-studio 63206664e, 31.1.1 + 4): the engine's files
# of the npm package only, never its addon nor its code.
engine_package=noobs@0.0.184
engine_integrity=sha512-PGbG2LPtj9EP3SJDziTvHj4VLjkhgOdtJHF4ovwHnE0v7BWeznvMpZ4RSBxmmeMNu0B3cXUvwZlLkSExhoma7g==
windows_engine() {
    local cache=$roots/noobs-0.0.184 work
    if [ ! -f "$cache/.complete" ]; then
        command -v npm >/dev/null || {
            echo "npm is needed to fetch $engine_package (scripts/install-deps.sh installs it)" >&2
            return 1
        }
        work=$(mktemp -d)
        (cd "$work" && npm pack --silent "$engine_package" >/dev/null) || {
            rm -rf "$work"
            echo "$engine_package cannot be fetched from the npm registry" >&2
            return 1
        }
        if [ "sha512-$(openssl dgst -sha512 -binary "$work"/noobs-0.0.184.tgz | base64 -w0)" != "$engine_integrity" ]; then
            rm -rf "$work"
            echo "$engine_package does not match its integrity $engine_integrity" >&2
            return 1
        fi
        rm -rf "$cache"
        mkdir -p "$cache"
        tar -xzf "$work"/noobs-0.0.184.tgz -C "$cache" --strip-components=2 \
            --exclude=package/dist/noobs.node package/dist
        rm -rf "$work"
        touch "$cache/.complete"
    fi
    cp -al "$cache" "$root/kalto/windows-engine"
    rm -f "$root/kalto/windows-engine/.complete"
    # The Windows programs, cross-compiled here (the windows leg has built them already).
    [ -f build/windows/CMakeCache.txt ] || cmake --preset windows >/dev/null
    cmake --build --preset windows --target kalto-obs kalto-obs-layout winrt_stand_in teinte >/dev/null
    mkdir -p "$root/kalto/windows-programs"
    cp build/windows/kalto-obs.exe build/windows/kalto-obs-layout.exe \
        build/windows/wine-programs/teinte.exe build/windows/wine-programs/libobs-winrt.dll \
        "$root/kalto/windows-programs/"
}
if [ "$name" = debian13 ] && [ "${1:-}" != bench ]; then
    begin=$SECONDS
    windows_engine
    echo "=== Windows engine and programs for the root: $((SECONDS - begin)) s"
fi

# The sources are copied without their history: the agent built there reports the host's commit.
commit=$(git describe --always --dirty --abbrev=7 --exclude='*' 2>/dev/null || true)

# The whole run in a mount and PID namespace of its own: its mounts and every
# process started inside (Xvfb, pulseaudio, ffplay, a test ctest gave up on)
# end with it.
KALTO_COMMIT=$commit unshare --mount --pid --fork --propagation private -- bash -c '
    set -e
    root=$1
    shift
    mount -t proc proc "$root/proc"
    mount --rbind /dev "$root/dev"
    mount -t tmpfs tmpfs "$root/tmp"
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive KALTO_COMMIT="$KALTO_COMMIT" \
        bash /kalto/src/scripts/lib/root-leg.sh "$@"' \
    debian-root "$root" "$@"
