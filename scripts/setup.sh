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
    libssh-dev openssh-server dropbear-bin rclone
    curl lftp hyperfine time
    xvfb xauth imagemagick
    dpkg-dev desktop-file-utils appstream systemd librsvg2-bin
    lintian mandoc man-db bsdextrautils bash-completion
    qtkeychain-qt6-dev dbus gnome-keyring libsecret-tools
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

# FTP servers the interop tests run beside vsftpd and pyftpdlib. Their packages conflict with
# vsftpd, so they are never installed: apt-get download fetches them, with those of their
# libraries that are not installed, and dpkg -x unpacks them into a folder of the build.
QUELMARK_UNPACKED_SERVERS=(proftpd-core proftpd-mod-crypto pure-ftpd pure-ftpd-common)
QUELMARK_UNPACKED_LIBRARIES=(libmemcached11 libmemcachedutil2 libhashkit2 libpcre2-posix3)

# quelmark_unpack_servers DIR: the servers above in DIR/test-servers/root, unless they are there.
# A failure only warns: the tests that need them skip and say why.
quelmark_unpack_servers() {
    local dir=$1/test-servers
    [ -x "$dir/root/usr/sbin/proftpd" ] && [ -x "$dir/root/usr/sbin/pure-ftpd" ] && return 0
    local wanted=("${QUELMARK_UNPACKED_SERVERS[@]}")
    local pkg
    for pkg in "${QUELMARK_UNPACKED_LIBRARIES[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || wanted+=("$pkg")
    done
    rm -rf "$dir"
    mkdir -p "$dir/debs" "$dir/root"
    local apt=(apt-get download -qq)
    # As root, apt drops to its own user, who may not write here.
    [ "$(id -u)" -eq 0 ] && apt+=(-o APT::Sandbox::User=root)
    if ! (cd "$dir/debs" && "${apt[@]}" "${wanted[@]}"); then
        local sudo=()
        [ "$(id -u)" -ne 0 ] && sudo=(sudo)
        "${sudo[@]}" apt-get update -qq || true
        if ! (cd "$dir/debs" && "${apt[@]}" "${wanted[@]}"); then
            echo "warning: cannot download ${wanted[*]}; the tests that need them will skip" >&2
            return 0
        fi
    fi
    local deb
    for deb in "$dir"/debs/*.deb; do
        dpkg -x "$deb" "$dir/root"
    done
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
