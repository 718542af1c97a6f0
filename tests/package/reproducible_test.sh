#!/usr/bin/env bash
# reproducible_test.sh [ARCH]
# Builds the Debian packages for Debian architecture ARCH (default: this
# machine's) twice from the last commit, in two clones at paths of different
# lengths, one after the other, with different temporary folders, umasks,
# time zones, locales and degrees of parallelism, and fails unless the two
# builds give byte-identical .deb files. Where they differ, diffoscope's
# account of the difference is shown. The builds skip the test suite
# (nocheck). Exits 77 (skipped) when a tool is missing or the source has no
# git history to clone.
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$here/lib.sh"
arch=${1:-$(dpkg --print-architecture)}
skip_unless_can_build "$arch"
skip_unless_installed git
commit=$(git -C "$root" rev-parse HEAD 2>/dev/null) || {
    echo "SKIPPED: $root is not a git clone: there is no commit to build twice"
    exit 77
}
[ -z "$(git -C "$root" status --porcelain --untracked-files=no)" ] ||
    echo "note: builds commit $commit; the uncommitted changes in $root are not in it"

scratch=$(mktemp -d)
trap 'chmod -R u+w "$scratch" 2>/dev/null; rm -rf "$scratch"' EXIT

# build NAME CLONE_PATH UMASK TZ LOCALE JOBS: clones the commit at
# CLONE_PATH and builds its packages into $scratch/NAME.
build() {
    local name=$1 clone=$2 mask=$3 zone=$4 locale=$5 jobs=$6
    mkdir -p "$(dirname "$clone")" "$scratch/tmp-$name"
    git clone -q --no-checkout "$root" "$clone" && git -C "$clone" checkout -q --detach "$commit" || return 1
    echo "build $name: $clone, umask $mask, TZ=$zone, LC_ALL=$locale, parallel=$jobs, at $(date -u +%T)"
    (
        umask "$mask"
        cd "$clone" || exit 1
        TZ=$zone LC_ALL=$locale TMPDIR=$scratch/tmp-$name DEB_BUILD_OPTIONS="nocheck parallel=$jobs" \
            bash scripts/build-deb.sh "$scratch/$name" "$arch" >/dev/null
    )
}

build first "$scratch/a/cgi-handler" 022 UTC C 1 || {
    echo "FAIL: the first build failed"
    exit 1
}
# The second starts a different second, whatever the speed of the first.
sleep 2
build second "$scratch/second-clone/at/a-much-longer-path/src" 002 Pacific/Kiritimati C.UTF-8 2 || {
    echo "FAIL: the second build failed"
    exit 1
}

failed=0
for deb in "$scratch"/first/*.deb; do
    name=$(basename "$deb")
    other=$scratch/second/$name
    if [ ! -f "$other" ]; then
        echo "FAIL: the second build made no $name"
        failed=$((failed + 1))
    elif cmp -s "$deb" "$other"; then
        echo "identical: $name ($(stat -c %s "$deb") bytes, sha256 $(sha256sum <"$deb" | cut -c1-16)...)"
    else
        echo "FAIL: $name differs between the two builds"
        if command -v diffoscope >/dev/null; then
            (cd "$scratch" && timeout 300 diffoscope --text - "first/$name" "second/$name" 2>&1 | head -n 80)
        else
            echo "  (diffoscope, Debian package diffoscope-minimal, would show where)"
        fi
        failed=$((failed + 1))
    fi
done
[ -n "$(ls "$scratch"/first/*.deb 2>/dev/null)" ] || {
    echo "FAIL: the first build made no package"
    exit 1
}
[ "$failed" -eq 0 ] || exit 1
echo "$arch: two builds of $commit from two clones give byte-identical packages"
