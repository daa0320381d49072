# The one list of Debian packages the project needs; sourced, not run.

# Build, tests on the real engine and the Debian package: what every machine and
# every Debian root needs. Recommends are not installed: `file` is cpack's.
build_test_packages=(
    cmake g++ make pkg-config file dpkg-dev
    libgtest-dev nlohmann-json3-dev
    libobs-dev obs-studio libx11-dev libxcomposite-dev libxext-dev libxres-dev libxrandr-dev
    libpulse-dev
    pulseaudio pulseaudio-utils pipewire pipewire-pulse wireplumber dbus-daemon
    xvfb x11-utils ffmpeg python3 python3-jsonschema
)
# The Debian 13 root only: OBS Studio's Windows engine under Wine 10 (Wine 8, Debian 12's,
# cannot start its Direct3D 11).
wine_packages=(wine wine64)
# The host only: the format check, the Windows build under Wine, the sanitizers and fuzzing.
host_packages=(
    clang-format g++-mingw-w64-x86-64 mingw-w64-tools wine64 wine googletest
    clang libclang-rt-14-dev
)

# Prints those of the packages given that are not installed, one a line.
missing_packages() {
    local p
    for p; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
    done
}
