#!/usr/bin/env bash
# The systemd units as cmake --install lays them out: both where systemd looks for them, the
# service's ExecStart naming the installed program, `systemd-analyze verify` silent, and the
# service's exposure as `systemd-analyze security` rates it no worse than 4.0 (printed).
#
#   units.sh BUILD_DIR
set -uo pipefail
build=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v systemd-analyze >/dev/null || { echo "SKIP: systemd-analyze is missing"; exit 77; }
tmp=$(mktemp -d /tmp/orvaned-units.XXXXXX)
trap 'rm -rf "$tmp"' EXIT

prefix="$tmp/prefix"
cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" 2>&1 || { cat "$tmp/install.log" >&2; fail "cmake --install failed"; }
units="$prefix/lib/systemd/system"
[[ -f "$units/orvaned.service" && -f "$units/orvaned.socket" ]] || fail "the units are not in lib/systemd/system"
[[ -x "$prefix/sbin/orvaned" ]] || fail "sbin/orvaned is not installed"
grep -qx "ExecStart=$prefix/sbin/orvaned" "$units/orvaned.service" ||
    fail "ExecStart does not name the installed program: $(grep ExecStart "$units/orvaned.service")"
grep -qx "ListenStream=/run/orvane/orvaned.sock" "$units/orvaned.socket" || fail "the socket unit listens elsewhere"

(cd "$units" && systemd-analyze verify ./orvaned.socket ./orvaned.service) >"$tmp/verify.out" 2>"$tmp/verify.err"
status=$?
[[ $status -eq 0 && ! -s "$tmp/verify.err" ]] || fail "systemd-analyze verify: status $status: $(cat "$tmp/verify.err")"

(cd "$units" && systemd-analyze security --offline=true ./orvaned.service) >"$tmp/security.out" 2>&1
exposure=$(sed -n 's/.*Overall exposure level for orvaned.service: \([0-9.]*\).*/\1/p' "$tmp/security.out")
[[ -n "$exposure" ]] || fail "no exposure level from systemd-analyze security: $(tail -3 "$tmp/security.out")"
echo "orvaned.service exposure: $exposure (at most 4.0)"
awk -v e="$exposure" 'BEGIN { exit !(e <= 4.0) }' || fail "exposure $exposure is over 4.0"
echo "units: OK"
