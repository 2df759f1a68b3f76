#!/usr/bin/env bash
# An install into a fresh prefix: every file where a desktop expects it, the
# launcher and the AppStream metadata clean under their validators, the
# manual page clean under groff, and the installed program answering
# --version and --help with no display.
#
#   install-test.sh CMAKE BUILD_FOLDER APPLICATION_ID
# Ends with 77 (skipped) when a validator is not installed (make deps installs
# them).
set -euo pipefail
cmake=$1 build=$2 id=$3

for tool in desktop-file-validate appstreamcli groff; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (make deps installs it)"
        exit 77
    fi
done

prefix=$(mktemp -d "${TMPDIR:-/tmp}/tess-install-XXXXXX")
trap 'rm -rf "$prefix"' EXIT
fail() {
    echo "FAIL: $*"
    exit 1
}

"$cmake" --install "$build" --prefix "$prefix" >"$prefix.log" 2>&1 || fail "install: $(cat "$prefix.log")"
rm -f "$prefix.log"

expected=(
    bin/tessarine
    "share/applications/$id.desktop"
    "share/metainfo/$id.metainfo.xml"
    "share/icons/hicolor/scalable/apps/$id.svg"
    share/man/man1/tessarine.1.gz
    share/doc/tessarine/copyright
    share/doc/tessarine/changelog.Debian.gz
)
for size in 16 22 24 32 48 64 128 256; do
    expected+=("share/icons/hicolor/${size}x${size}/apps/$id.png")
done
for file in "${expected[@]}"; do
    [ -f "$prefix/$file" ] || fail "missing $file"
done
[ -x "$prefix/bin/tessarine" ] || fail "bin/tessarine is not executable"
# Each PNG is as large as the folder it is in says.
for size in 16 22 24 32 48 64 128 256; do
    png=$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png
    read -r width height < <(od -An -tu1 -j16 -N8 "$png" |
        awk '{ print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }')
    [ "$width x $height" = "$size x $size" ] || fail "$png is $width x $height"
done
# Nothing else: a stray file would land in the package too.
unexpected=$(cd "$prefix" && find . -type f | sed 's|^\./||' | sort |
    comm -23 - <(printf '%s\n' "${expected[@]}" | sort))
[ -z "$unexpected" ] || fail "unexpected files: $unexpected"

desktop-file-validate "$prefix/share/applications/$id.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" ||
    fail "appstreamcli validate"
warnings=$(zcat "$prefix/share/man/man1/tessarine.1.gz" | groff -man -ww -z 2>&1)
[ -z "$warnings" ] || fail "manual page: $warnings"
grep -q "^Exec=tessarine$" "$prefix/share/applications/$id.desktop" || fail "Exec is not tessarine"

version=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$prefix/bin/tessarine" --version) ||
    fail "--version failed"
[[ "$version" == "tessarine "* ]] || fail "--version printed '$version'"
env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$prefix/bin/tessarine" --help |
    grep -q -- "--folder" || fail "--help does not list --folder"
echo "installed and validated: ${#expected[@]} files"
