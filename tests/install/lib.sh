# Shared by the install tests: temporary folders, failures and skips.
# Sourced; the caller has `set -euo pipefail`.

SKIP=77

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

skip() {
    echo "SKIP: $*"
    exit "$SKIP"
}

need_tools() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
    done
}

# A fresh temporary folder, removed when the script ends. Sets $tmp.
make_temp() {
    tmp="$(mktemp -d "${TMPDIR:-/tmp}/orvane-install.XXXXXX")"
    trap '[[ -n "${ORVANE_KEEP_TEMP:-}" ]] || rm -rf "$tmp"' EXIT
}

# Installs the build tree into $1.
install_into() {
    local build="$1" prefix="$2"
    cmake --install "$build" --prefix "$prefix" >"$tmp/install.out" 2>&1 ||
        { cat "$tmp/install.out" >&2; fail "cmake --install $build --prefix $prefix failed"; }
}

# The environment of a user who has nothing but a fresh home folder: the program must find its
# data directory from HOME alone, and no desktop is running.
as_fresh_user() {
    local home="$1"
    mkdir -p "$home"
    export HOME="$home"
    unset XDG_DATA_HOME XDG_CONFIG_HOME XDG_CACHE_HOME XDG_RUNTIME_DIR
    unset DESKTOP_SESSION GNOME_DESKTOP_SESSION_ID KDE_FULL_SESSION SNAP
    unset BROWSER DEFAULT_BROWSER QT_QPA_PLATFORM WAYLAND_DISPLAY
    export XDG_CURRENT_DESKTOP=
    export XDG_RUNTIME_DIR="$home/.runtime"
    mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
}
