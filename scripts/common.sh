# Shared by run.sh and test.sh: package installation and the CMake build.
# Sourced, not run.

CORVANE_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# What building and running the program needs (Debian 12 package names).
CORVANE_BUILD_PACKAGES=(cmake ninja-build g++ pkg-config qt6-base-dev libqt6sql6-sqlite
    libpulse-dev libsndfile1-dev libsamplerate0-dev zlib1g-dev libxcb1-dev fonts-liberation2
    qt6-tools-dev qt6-tools-dev-tools libqt6opengl6-dev libgl-dev libgtest-dev libbenchmark-dev
    libavformat-dev libavcodec-dev libswscale-dev libavutil-dev
    libliquid-dev libsoapysdr-dev)
# What the tests need on top: a virtual display, a private audio server and validators.
CORVANE_TEST_PACKAGES=(xvfb xauth pulseaudio pulseaudio-utils desktop-file-utils appstream
    imagemagick clang-format x11-utils python3 hacktv)
# What scripts/package.sh needs on top: CPack's dependency finder (dpkg-shlibdeps), the manual
# pages' maker and the package checker.
CORVANE_PACKAGE_PACKAGES=(dpkg-dev help2man lintian)
# What the fuzz targets need on top: clang and its libFuzzer runtime.
CORVANE_FUZZ_PACKAGES=(clang libclang-rt-14-dev)
# What run.sh needs on top: xdpyinfo, to check that the display can be reached.
CORVANE_RUN_PACKAGES=(x11-utils)

# Runs a command as root: directly when we are root, through sudo otherwise.
as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    else
        sudo "$@"
    fi
}

# Installs the packages that are not installed yet; does nothing when all are there.
ensure_packages() {
    local missing=()
    local p
    for p in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

# configure_and_build BUILD_DIR [cmake options...]
configure_and_build() {
    local dir="$1"
    shift
    cmake -S "$CORVANE_ROOT" -B "$dir" -G Ninja "$@"
    cmake --build "$dir" --parallel "$(nproc)"
}

# start_private_display WORKDIR [SCREEN]: starts Xvfb on a free display number (the server picks
# it), waits until it answers, and exports DISPLAY and QT_QPA_PLATFORM. The server's pid is left in
# private_display_pid for the caller to stop; its log is WORKDIR/xvfb.log.
start_private_display() {
    local work="$1" screen="${2:-1280x1024x24}"
    Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp >"$work/xvfb.log" 2>&1 3>"$work/xvfb.display" &
    private_display_pid=$!
    local _
    for _ in $(seq 100); do
        [ -s "$work/xvfb.display" ] && break
        sleep 0.1
    done
    local number
    number="$(head -n1 "$work/xvfb.display" 2>/dev/null || true)"
    if [ -z "$number" ]; then
        echo "Xvfb did not start:" >&2
        cat "$work/xvfb.log" >&2
        return 1
    fi
    export DISPLAY=":$number" QT_QPA_PLATFORM=xcb
}
