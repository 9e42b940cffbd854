#!/usr/bin/env bash
# Runs the installed program as a user with a fresh home folder and no desktop: it must keep
# its files in ~/.local/share/orvane (not beside itself in bin/), and F1 must hand the installed
# manual to the desktop's opener (xdg-open, replaced here by a stub that records what it gets).
#
#   installed-program.sh BUILD_DIR
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/lib.sh"
build="$1"

need_tools xvfb-run xdotool
make_temp
prefix="$tmp/prefix"
install_into "$build" "$prefix"

# The stub opener: records its argument and returns at once, as xdg-open does.
mkdir -p "$tmp/stub"
cat >"$tmp/stub/xdg-open" <<STUB
#!/bin/sh
printf '%s\n' "\$1" >>"$tmp/opened"
STUB
chmod +x "$tmp/stub/xdg-open"

as_fresh_user "$tmp/home"
# Started by its bare name through PATH, as a desktop entry starts it.
export PATH="$tmp/stub:$prefix/bin:$PATH"
mkdir -p "$tmp/out"
if ! xvfb-run -a -s "-screen 0 1280x1024x24" \
        "$here/session.sh" orvane "$tmp/out" --press-f1 "$tmp/opened"; then
    cat "$tmp/out/program.log" >&2 || true
    fail "the installed program did not run through start, F1 and SIGTERM"
fi
[[ "$(cat "$tmp/out/exit-status")" == 0 ]] ||
    fail "the program exited with status $(cat "$tmp/out/exit-status") after SIGTERM"

data="$HOME/.local/share/orvane"
[[ -d "$data" ]] || fail "$data was not created"
[[ -f "$data/Settings.dat" ]] || fail "no Settings.dat in $data after closing"
[[ "$(stat -c %s "$data/Settings.dat")" == 32 ]] || fail "Settings.dat is not 32 bytes"
for name in Settings.dat Logs.log BlackList.log; do
    [[ ! -e "$prefix/bin/$name" ]] || fail "the installed copy wrote $name beside itself"
done

[[ -s "$tmp/opened" ]] || fail "F1 did not call xdg-open"
opened="$(head -n 1 "$tmp/opened")"
path="${opened#file://}"
printf -v path '%b' "${path//%/\\x}"
expected="$prefix/share/orvane/OrvaneHelp.html"
[[ "$(realpath -m "$path")" == "$(realpath -m "$expected")" ]] ||
    fail "F1 opened '$opened', expected $expected"
echo "installed program: OK (F1 delivered by $(cat "$tmp/out/f1-delivery"))"
