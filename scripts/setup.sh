# Shared set-up of scripts/run, scripts/test, scripts/fuzz and .ci/run: install the Debian
# packages the program, its tests, its benchmarks and its fuzz targets need (only the missing
# ones), then configure and build.
# Sourced, not run.

QUELMARK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

QUELMARK_PACKAGES=(
    build-essential cmake ninja-build pkg-config
    clang libclang-rt-14-dev
    qt6-base-dev libgl-dev
    libsqlite3-dev sqlite3
    netbase iproute2 util-linux procps tzdata
    libgtest-dev libgmock-dev libbenchmark-dev
    python3 python3-pyftpdlib vsftpd faketime
    libssl-dev openssl python3-openssl tcpdump
    libssh-dev openssh-server
    curl lftp hyperfine time
    xvfb xauth imagemagick
    dpkg-dev desktop-file-utils appstream systemd librsvg2-bin
    lintian mandoc man-db bsdextrautils bash-completion
)

# quelmark_install_packages [package...]: the given packages, or all of QUELMARK_PACKAGES.
quelmark_install_packages() {
    local wanted=("$@")
    [ ${#wanted[@]} -eq 0 ] && wanted=("${QUELMARK_PACKAGES[@]}")
    local missing=()
    local pkg
    for pkg in "${wanted[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing packages: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# quelmark_configure DIR [cmake options...]
quelmark_configure() {
    local dir=$1
    shift
    cmake -S "$QUELMARK_ROOT" -B "$dir" -G Ninja "$@" >/dev/null
}

# quelmark_build DIR [target...]: the given targets, or everything.
quelmark_build() {
    local dir=$1
    shift
    local targets=()
    [ $# -gt 0 ] && targets=(--target "$@")
    cmake --build "$dir" --parallel "$(nproc)" "${targets[@]}"
}
