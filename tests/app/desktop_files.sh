#!/usr/bin/env bash
# The desktop entry and the AppStream metadata pass Debian's validators, name one another and
# the icon by the same id, and the metadata's newest release is the version the program prints;
# each rendered icon has the size of its theme folder.
# Arguments: source folder, build folder, desktop id.
set -euo pipefail
src=$1 build=$2 id=$3
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

desktop="$src/data/$id.desktop"
metainfo="$src/data/$id.metainfo.xml"
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $desktop"
appstreamcli validate --no-net --strict "$metainfo" || fail "appstreamcli rejects $metainfo"

grep -qx "Icon=$id" "$desktop" || fail "the desktop entry's icon is not $id"
grep -q "<id>$id</id>" "$metainfo" || fail "the metadata's id is not $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "the metadata does not launch $id.desktop"

# Releases are listed newest first.
released=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$metainfo" | head -n 1)
printed=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$build/quelmark" --version)
[ "$printed" = "quelmark $released" ] || fail "the newest release is '$released', the program prints '$printed'"

for size in 16 22 24 32 48 64 128 256; do
    png="$src/data/icons/hicolor/${size}x${size}/apps/$id.png"
    if [ ! -f "$png" ]; then
        fail "no $png (scripts/render-icons makes it)"
        continue
    fi
    # A PNG's width and height are the big-endian 32-bit numbers at offsets 16 and 20.
    read -r w1 w2 w3 w4 h1 h2 h3 h4 < <(od -An -tu1 -j16 -N8 "$png")
    width=$(((w1 << 24) | (w2 << 16) | (w3 << 8) | w4))
    height=$(((h1 << 24) | (h2 << 16) | (h3 << 8) | h4))
    [ "$width" -eq "$size" ] && [ "$height" -eq "$size" ] || fail "$png is ${width}x${height}"
done

[ "$failures" -eq 0 ] || exit 1
echo "desktop entry, metadata and icons are sound"
