#!/usr/bin/env bash
# Installs the build tree into a temporary prefix and checks what a desktop needs from it: the
# program, its manual and pictures where the installed copy looks for them, a desktop entry and
# AppStream metadata that the validators accept and that name each other, and the icon at
# every size the desktop entry's Icon key must resolve to.
#
#   installed-files.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/lib.sh"
build="$1"
id=org.orvane.Orvane

need_tools desktop-file-validate appstreamcli file
make_temp
prefix="$tmp/prefix"
install_into "$build" "$prefix"

[[ -x "$prefix/bin/orvane" ]] || fail "bin/orvane is missing or not executable"

manual="$prefix/share/orvane/OrvaneHelp.html"
[[ -s "$manual" ]] || fail "share/orvane/OrvaneHelp.html is missing"
# Every picture the manual shows must have been installed beside it.
while read -r ref; do
    [[ "$ref" == *://* || "$ref" == data:* || "$ref" == \#* ]] && continue
    [[ -f "$(dirname "$manual")/${ref%%[?#]*}" ]] || fail "the manual shows $ref, which is not installed"
done < <(grep -oiE '(src|href)="[^"]+\.(png|svg|jpg|gif)"' "$manual" | sed -E 's/^[^"]*"//; s/"$//')

desktop="$prefix/share/applications/$id.desktop"
metainfo="$prefix/share/metainfo/$id.metainfo.xml"
[[ -f "$desktop" ]] || fail "share/applications/$id.desktop is missing"
[[ -f "$metainfo" ]] || fail "share/metainfo/$id.metainfo.xml is missing"

desktop-file-validate "$desktop" || fail "desktop-file-validate rejects $id.desktop"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli rejects $id.metainfo.xml"

key() { sed -n "s/^$1=//p" "$desktop" | head -n 1; }
[[ "$(key Name)" == Orvane ]] || fail "desktop entry Name is '$(key Name)'"
[[ "$(key Exec)" == orvane ]] || fail "desktop entry Exec is '$(key Exec)'"
[[ "$(key Terminal)" == false ]] || fail "desktop entry must not ask for a terminal"
[[ "$(key Categories)" == *System\;* && "$(key Categories)" == *Monitor\;* ]] ||
    fail "desktop entry Categories is '$(key Categories)'"
[[ -x "$prefix/bin/$(key Exec)" ]] || fail "Exec names a program that is not installed"

grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "the metadata does not launch $id.desktop"
grep -q "<binary>orvane</binary>" "$metainfo" || fail "the metadata does not provide the binary"

icon="$(key Icon)"
hicolor="$prefix/share/icons/hicolor"
[[ -s "$hicolor/scalable/apps/$icon.svg" ]] || fail "no scalable icon named $icon"
for size in 16 32 48 128; do
    png="$hicolor/${size}x${size}/apps/$icon.png"
    [[ -f "$png" ]] || fail "no ${size}x${size} icon named $icon"
    file "$png" | grep -q "PNG image data, $size x $size," ||
        fail "${size}x${size}/apps/$icon.png is not a $size x $size PNG: $(file -b "$png")"
done

# Nothing of the build tree may leak into the install; the watch service and its units are
# the only files outside bin/ and share/.
leaks="$(find "$prefix" -type f ! -path "$prefix/bin/*" ! -path "$prefix/share/*" \
    ! -path "$prefix/sbin/orvaned" ! -path "$prefix/lib/systemd/system/orvaned.*")"
[[ -z "$leaks" ]] || fail "unexpected files installed: $leaks"
echo "installed files: OK"
