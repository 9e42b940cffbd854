#!/usr/bin/env bash
# Runs the core tests and the end-to-end tests of build trees once more the way a desktop
# user runs the program: an unprivileged account with a soft descriptor limit of 1,024 under a
# hard one of 524,288. The descriptor-shortage test runs a third time under 256:256.
#
#   tests/run-as-user.sh BUILD_DIR...
#
# Each tree's tests of those kinds run (test.sh has the core tests in its sanitizer tree and the
# end-to-end tests in the plain one); the trees are made readable as below.
#
# As root the tests run as the account orvane-test, created when missing. What has to change
# outside for it (o+x on folders on the way to the trees it cannot pass through, o+r where the
# trees are not readable to others, the owner of CTest's folder Testing/) is noted first and put
# back on every way out, a signal included.
# As any other user they run as that user, the hard limit lowered to 524,288 if higher.
set -uo pipefail

builds=()
for tree in "$@"; do
    builds+=("$(cd "$tree" && pwd -P)")
done
source_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)
account=orvane-test
soft=1024
hard=524288

tmp=$(mktemp -d /tmp/orvane-user.XXXXXX)
restore=() # commands that put back what was changed, run last to first
cleanup() {
    local i
    for ((i = ${#restore[@]} - 1; i >= 0; i--)); do
        eval "${restore[i]}"
    done
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM
chmod 0755 "$tmp"

# grant MODE PATH: chmod MODE PATH, its former mode put back at the end.
grant() {
    restore+=("chmod $(stat -c %a "$2") $(printf %q "$2")")
    chmod "$1" "$2"
}

runner=()
if [[ $(id -u) -eq 0 ]]; then
    if ! id -u "$account" >/dev/null 2>&1; then
        useradd --system --user-group --no-create-home --home-dir /nonexistent \
            --shell /usr/sbin/nologin "$account" || { echo "FAIL: cannot create $account"; exit 1; }
    fi
    runner=(setpriv --reuid="$account" --regid="$account" --init-groups --)
    # Every folder from / down to both trees must let the account through.
    for tree in "${builds[@]}" "$source_dir"; do
        dir=
        IFS=/ read -ra parts <<<"${tree#/}"
        for part in "${parts[@]}"; do
            dir+=/$part
            "${runner[@]}" test -x "$dir" && continue
            grant o+x "$dir"
            echo "note: o+x on $dir for the run as $account"
        done
    done
    for tree in "${builds[@]}" "$source_dir"; do
        # The source tree's other build trees are left alone (test.sh builds in them meanwhile).
        others=()
        [[ $tree == "$source_dir" ]] && others=(-path "$source_dir/build*" -prune -o)
        if [[ -n $("${runner[@]}" find "$tree" "${others[@]}" \( -type f ! -readable -o -type d \( ! -readable -o ! -executable \) \) \
            -print -quit 2>/dev/null) ]]; then
            echo "note: $tree is not readable to $account: o+rX on it for the run"
            while IFS= read -r -d '' path; do
                if [[ -d $path ]]; then grant o+rx "$path"; else grant o+r "$path"; fi
            done < <(find "$tree" "${others[@]}" \( -type f ! -perm -o=r -o -type d ! -perm -o=rx \) -print0)
        fi
    done
    # CTest writes its logs into the build trees.
    for build in "${builds[@]}"; do
        mkdir -p "$build/Testing"
        while IFS= read -r -d '' path; do
            restore+=("chown $(stat -c %u:%g "$path") $(printf %q "$path")")
        done < <(find "$build/Testing" -print0)
        # What the account adds goes to the folder's owner.
        restore+=("find $(printf %q "$build/Testing") -user $account -exec chown $(stat -c %u:%g "$build/Testing") {} +")
        chown -R "$account:" "$build/Testing"
    done
    user=$account
else
    user=$(id -un)
    limit=$(ulimit -Hn)
    [[ $limit == unlimited ]] || ((limit >= hard)) || hard=$limit
    ((soft <= hard)) || soft=$hard
fi
if ! prlimit --nofile="$soft:$hard" -- true 2>/dev/null; then
    echo "note: a hard descriptor limit of $hard cannot be set here (no CAP_SYS_RESOURCE?): $(ulimit -Hn) instead"
    hard=$(ulimit -Hn)
    ((soft <= hard)) || soft=$hard
fi
home=$tmp/home
mkdir -p "$home/.runtime"
chmod 0700 "$home/.runtime"
[[ $(id -u) -eq 0 ]] && chown -R "$account:" "$home"

# as_user LIMITS COMMAND...: COMMAND as the user under soft:hard LIMITS, in a plain environment
# (the sanitizers' options kept).
as_user() {
    local limits=$1 keep=()
    shift
    [[ -n ${ASAN_OPTIONS:-} ]] && keep+=("ASAN_OPTIONS=$ASAN_OPTIONS")
    [[ -n ${LSAN_OPTIONS:-} ]] && keep+=("LSAN_OPTIONS=$LSAN_OPTIONS")
    prlimit --nofile="$limits" -- "${runner[@]}" env -i PATH=/usr/local/bin:/usr/bin:/bin \
        HOME="$home" USER="$user" LOGNAME="$user" XDG_RUNTIME_DIR="$home/.runtime" \
        LANG=C.UTF-8 "${keep[@]}" "$@"
}

# run WHAT LIMITS BUILD CTEST_OPTIONS...: the tests CTEST_OPTIONS select in BUILD, if it has any.
run() {
    local what=$1 limits=$2 build=$3
    shift 3
    ctest --test-dir "$build" -N "$@" | grep -q '^Total Tests: [1-9]' || return 0
    echo "== as $user, descriptors $limits: $what of $build"
    as_user "$limits" ctest --test-dir "$build" --output-on-failure "$@" || failed=1
}
failed=0
for build in "${builds[@]}"; do
    run "core tests" "$soft:$hard" "$build" -L core -j "$(nproc)"
    run "end-to-end tests" "$soft:$hard" "$build" -R '^e2e_'
    run "the descriptor-shortage test" 256:256 "$build" -R 'ShortOfDescriptors'
done
exit "$failed"
