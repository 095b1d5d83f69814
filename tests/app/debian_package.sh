#!/usr/bin/env bash
# Builds the Debian package from the build folder, checks that lintian finds no error in it and
# that its dependencies name Debian's Qt and SQLite library packages, unpacks it into a scratch
# root (dpkg -x) and runs the programs from there with no display; the packaged systemd units
# pass systemd's own check.
# Arguments: build folder, desktop id.
set -euo pipefail
build=$1 id=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log" >&2
    fail "cpack could not build the package"
    exit 1
fi
debs=("$scratch"/out/*.deb)
[ ${#debs[@]} -eq 1 ] || fail "cpack made ${#debs[@]} packages"
deb=${debs[0]}

# Errors only: the information lintian gives (hardening flags, sections strip leaves) is not a
# fault of the package. Its note about running as root is not either.
said=$(lintian --fail-on error "$deb" 2>&1) ||
    fail "lintian finds errors: $(grep -v 'running with root privileges' <<<"$said")"

depends=$(dpkg-deb --field "$deb" Depends)
for package in libqt6widgets6 libsqlite3-0; do
    grep -Eq "(^|, )$package( |,|$)" <<<"$depends" || fail "Depends does not name $package: $depends"
done

root="$scratch/root"
dpkg -x "$deb" "$root"
headless=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
version=$(dpkg-deb --field "$deb" Version)
printed=$("${headless[@]}" "$root/usr/bin/quelmark" --version) || fail "quelmark --version exits $?"
[ "$printed" = "quelmark $version" ] || fail "quelmark --version prints '$printed' from package version $version"
"${headless[@]}" "$root/usr/bin/quelmark-put" --help >/dev/null 2>&1 || fail "quelmark-put --help fails"

changelog=$(zcat "$root/usr/share/doc/quelmark/changelog.gz" | sed -n 1p) || fail "the package has no changelog"
[[ $changelog == "quelmark ($version) "* ]] || fail "the changelog's newest entry is '$changelog', the package $version"

for file in usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml \
    usr/share/doc/quelmark/copyright usr/share/man/man1/quelmark.1.gz usr/share/man/man1/quelmark-put.1.gz \
    usr/share/bash-completion/completions/quelmark usr/share/bash-completion/completions/quelmark-put \
    usr/share/icons/hicolor/scalable/apps/$id.svg usr/lib/systemd/user/quelmark.service \
    usr/lib/systemd/user/quelmark-push.service usr/lib/systemd/user/quelmark-push.timer; do
    [ -f "$root/$file" ] || fail "the package has no /$file"
done
for size in 16 22 24 32 48 64 128 256; do
    file=usr/share/icons/hicolor/${size}x${size}/apps/$id.png
    [ -f "$root/$file" ] || fail "the package has no /$file"
done

# systemd finds the bare "quelmark" of ExecStart in its own path; point it at the unpacked
# program so the check can follow it. Any word from systemd, a warning included, fails.
units="$scratch/units"
mkdir -p "$units" "$scratch/runtime"
chmod 700 "$scratch/runtime"
for unit in "$root"/usr/lib/systemd/user/*; do
    sed "s#^ExecStart=quelmark #ExecStart=$root/usr/bin/quelmark #" "$unit" >"$units/$(basename "$unit")"
done
if ! said=$(cd "$units" && XDG_RUNTIME_DIR="$scratch/runtime" systemd-analyze --user verify ./*.service ./*.timer 2>&1) ||
    [ -n "$said" ]; then
    fail "systemd-analyze verify: $said"
fi

[ "$failures" -eq 0 ] || exit 1
echo "$(basename "$deb") installs into a scratch root and runs; Depends: $depends"
