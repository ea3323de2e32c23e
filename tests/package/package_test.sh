#!/usr/bin/env bash
# The installed files and their validators, then the Debian package: its
# control data, its postinst, and an install and purge in a throw-away root.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "Skipped: $*"; }

files="bin/finger-quobix
share/applications/finger-quobix.desktop"
for size in 128 16 32 48 64; do
    files+=$'\n'"share/icons/hicolor/${size}x${size}/apps/finger-quobix.png"
done
files+="
share/icons/hicolor/scalable/apps/finger-quobix.svg
share/lintian/overrides/finger-quobix
share/man/man1/finger-quobix.1.gz
share/metainfo/finger-quobix.metainfo.xml"
files=$(LC_ALL=C sort <<<"$files
share/doc/finger-quobix/changelog.Debian.gz
share/doc/finger-quobix/copyright")

# The file list of an install, sorted, relative to its prefix.
listed() { (cd "$1" && find . -type f -printf '%P\n' | LC_ALL=C sort); }

cmake --install "$build" --prefix "$work/prefix" >/dev/null
[[ "$(listed "$work/prefix")" == "$files" ]] || fail "installed files:"$'\n'"$(listed "$work/prefix")"
for size in 16 32 48 64 128; do
    file "$work/prefix/share/icons/hicolor/${size}x${size}/apps/finger-quobix.png" | grep -q "$size x $size" \
        || fail "the ${size}x${size} icon has another size"
done
desktop=$work/prefix/share/applications/finger-quobix.desktop
for line in 'Exec=finger-quobix %u' 'Icon=finger-quobix' 'MimeType=x-scheme-handler/finger;'; do
    grep -qxF "$line" "$desktop" || fail "the desktop file lacks $line"
done
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate"
else
    skip "desktop-file-validate is missing (package desktop-file-utils)"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$work/prefix/share/metainfo/finger-quobix.metainfo.xml" >/dev/null \
        || fail "appstreamcli validate: $(appstreamcli validate --no-net "$work/prefix/share/metainfo/finger-quobix.metainfo.xml")"
else
    skip "appstreamcli is missing (package appstream)"
fi

if ! command -v dpkg-shlibdeps >/dev/null; then
    skip "dpkg-shlibdeps is missing (package dpkg-dev): no Debian package built"
    exit 0
fi
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" >/dev/null
deb=$(echo "$work"/pkg/finger-quobix_*.deb)
[[ -f "$deb" ]] || fail "cpack made no package"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6core6 libqt6widgets6 libqt6network6 libqt6svg6; do
    [[ "$depends" == *"$library"* ]] || fail "Depends lacks $library: $depends"
done
dpkg-deb -x "$deb" "$work/root"
[[ "$(listed "$work/root/usr")" == "$files" ]] || fail "packaged files:"$'\n'"$(listed "$work/root/usr")"
dpkg-deb -e "$deb" "$work/control"

# Debian's own checks: any error or warning fails (information and pedantic tags are shown).
if command -v lintian >/dev/null; then
    checked=$(lintian --pedantic --info "$deb" 2>/dev/null) || true
    echo "lintian --pedantic:"$'\n'"${checked:-(nothing to report)}"
    ! grep -qE '^[EW]: ' <<<"$checked" || fail "lintian reports errors or warnings"
else
    skip "lintian is missing (package lintian)"
fi
readelf -d "$work/root/usr/bin/finger-quobix" | grep -q 'BIND_NOW' || fail "the program is not linked with -z now"

# Where setcap is missing the postinst says so and the install goes on.
mkdir "$work/no-tools"
said=$(DPKG_ROOT="$work/root" PATH="$work/no-tools" /bin/sh "$work/control/postinst" configure 2>&1) \
    || fail "postinst failed without setcap"
[[ "$said" == *"setcap not found"* ]] || fail "postinst without setcap said: $said"

if [[ $(id -u) -ne 0 ]]; then
    said=$(DPKG_ROOT="$work/root" /bin/sh "$work/control/postinst" configure 2>&1) || fail "postinst failed"
    [[ "$said" == *"could not give"* ]] || fail "postinst as an ordinary user said: $said"
    skip "not root: no install into a throw-away root"
    exit 0
fi
# A throw-away root with an empty package database; the scripts run outside it with DPKG_ROOT set.
target=$work/target
mkdir -p "$target/var/lib/dpkg/info" "$target/var/lib/dpkg/updates" "$target/var/lib/dpkg/triggers"
touch "$target/var/lib/dpkg/status" "$target/var/lib/dpkg/available"
dpkg=(dpkg --root="$target" --force-script-chrootless --force-depends --log=/dev/null)
"${dpkg[@]}" -i "$deb" >/dev/null 2>&1 || fail "dpkg -i: $("${dpkg[@]}" -i "$deb" 2>&1)"
[[ "$(listed "$target/usr")" == "$files" ]] || fail "files after dpkg -i:"$'\n'"$(listed "$target/usr")"
getcap "$target/usr/bin/finger-quobix" | grep -q cap_net_bind_service || fail "no capability after postinst"
"${dpkg[@]}" --purge finger-quobix >/dev/null
left=$(cd "$target" && find . -mindepth 1 -not -path './var' -not -path './var/lib' -not -path './var/lib/dpkg*')
[[ -z "$left" ]] || fail "left after purge: $left"
echo "PASS"
