#!/usr/bin/env bash
# fresh-check.sh [--keep] [COMMIT]
# The README's two commands on a fresh machine. Makes a minimal Debian 12 root
# with mmdebstrap (minbase, with git, make, ca-certificates and sudo), clones
# COMMIT (default HEAD) of this repository into it with git, and there runs
# `make test`, then `make serve`: one request with curl, then Ctrl-C. Prints
# ctest's closing line, the failed and skipped tests, the times and the
# server's answer, and exits 0 only when all of it passed.
#
# It needs root (it runs itself through sudo otherwise) for mmdebstrap, the
# mounts of /proc, /sys and /dev and chroot, takes some ten minutes or more,
# and installs mmdebstrap through install-deps.sh when it is missing. The root
# takes its packages from the Debian mirrors this machine's apt uses. It
# shares this machine's network: every server in it listens on 127.0.0.1 of
# this machine, and no service is started by package installs there.
# The whole output of each step goes to build-fresh-check/ in this folder.
# Whatever happens (a failure, Ctrl-C), the mounts go, the processes left in
# the root are stopped by their PIDs, and the root is removed, unless --keep
# was given (then its path is printed).
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

keep=0
revision=HEAD
for arg in "$@"; do
    case $arg in
    --keep) keep=1 ;;
    -*)
        echo "usage: fresh-check.sh [--keep] [COMMIT]" >&2
        exit 2
        ;;
    *) revision=$arg ;;
    esac
done
if [ "$(id -u)" -ne 0 ]; then
    exec sudo -- bash "$0" "$@"
fi

git_repo() { git -c safe.directory="$repo" -C "$repo" "$@"; }
commit=$(git_repo rev-parse --verify --quiet "$revision^{commit}") || {
    echo "fresh-check.sh: no commit '$revision' in $repo" >&2
    exit 2
}
bash "$repo/scripts/install-deps.sh" fresh-check
logs=$repo/build-fresh-check
mkdir -p "$logs"
rm -f "$logs"/*.log

seconds_since() { echo $(($(date +%s) - $1)); }
duration() { echo "$(($1 / 60)) min $(($1 % 60)) s"; }
say() { echo "fresh-check: $*"; }
started=$(date +%s)

# As the kernel names it in /proc/PID/root, links resolved.
rootfs=$(realpath "$(mktemp -d "${TMPDIR:-/tmp}/fresh-check.XXXXXX")")
serve_pid=
step_pid=
failures=()

# Runs a long step in the background and waits for it, so that INT and TERM
# reach the traps at once rather than when the step is over.
run_step() {
    local status=0
    "$@" &
    step_pid=$!
    wait "$step_pid" || status=$?
    step_pid=
    return $status
}

# The PIDs of the processes whose root is the fresh root: whatever runs in it.
pids_in_root() {
    local entry
    for entry in /proc/[0-9]*; do
        if [ "$(readlink "$entry/root" 2>/dev/null)" = "$rootfs" ]; then
            echo "${entry#/proc/}"
        fi
    done
}
describe_pids() {
    local pid
    for pid in "$@"; do
        echo "  $pid: $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)"
    done
}
stop_pids() {
    local pid tries=0
    [ $# -gt 0 ] || return 0
    for pid in "$@"; do kill -TERM "$pid" 2>/dev/null || true; done
    while [ $tries -lt 50 ]; do
        local alive=0
        for pid in "$@"; do kill -0 "$pid" 2>/dev/null && alive=1; done
        [ $alive -eq 0 ] && return 0
        sleep 0.1
        tries=$((tries + 1))
    done
    for pid in "$@"; do kill -KILL "$pid" 2>/dev/null || true; done
}
# Reports, counts as a failure and stops what still runs in the root after STEP.
check_nothing_left() { # STEP
    local left
    mapfile -t left < <(pids_in_root)
    [ ${#left[@]} -eq 0 ] && return 0
    say "left running after $1:"
    describe_pids "${left[@]}"
    failures+=("processes left by $1")
    stop_pids "${left[@]}"
    return 1
}
mounts_under_root() { awk -v root="$rootfs" 'index($2, root "/") == 1 { print $2 }' /proc/self/mounts; }

cleanup() {
    set +e
    trap - INT TERM
    if [ -n "$serve_pid" ] && kill -0 "$serve_pid" 2>/dev/null; then
        kill -INT -- "-$serve_pid" 2>/dev/null
        sleep 1
    fi
    local left target
    mapfile -t left < <(pids_in_root)
    stop_pids "${left[@]}"
    if [ -n "$step_pid" ]; then
        kill -TERM "$step_pid" 2>/dev/null
        wait "$step_pid" 2>/dev/null
    fi
    for target in dev sys proc; do
        if mountpoint -q "$rootfs/$target"; then
            umount -R "$rootfs/$target" 2>/dev/null || umount -R -l "$rootfs/$target"
        fi
    done
    if [ -n "$(mounts_under_root)" ]; then
        echo "fresh-check.sh: still mounted, so $rootfs is kept:" >&2
        mounts_under_root >&2
    elif [ $keep -eq 1 ]; then
        say "the root is kept in $rootfs"
    else
        rm -rf --one-file-system "$rootfs"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The Debian 12 sources this machine's apt reads (the mirror, its updates and
# security suites), as one-line entries; none when its package lists have not
# been fetched yet, and mmdebstrap then takes its own default mirror.
# shellcheck disable=SC2016 # apt's own $(FIELD) placeholders
mapfile -t sources < <(
    apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Created-By: Packages' 'Origin: Debian' 2>/dev/null |
        awk '$2 ~ /^bookworm(-|$)/' | sort -u |
        awk '{ key = $1 " " $2; if (!(key in parts)) order[n++] = key; parts[key] = parts[key] " " $3 }
             END { for (i = 0; i < n; i++) print "deb " order[i] parts[order[i]] }'
)
say "commit $(git_repo log -1 --format='%h %s' "$commit")"
say "making a minimal Debian 12 root in $rootfs"
if ! run_step mmdebstrap --variant=minbase --include=git,make,ca-certificates,sudo bookworm "$rootfs" "${sources[@]}" \
    >"$logs/mmdebstrap.log" 2>&1; then
    tail -n 20 "$logs/mmdebstrap.log" >&2
    say "FAILED: mmdebstrap could not make the root (log: $logs/mmdebstrap.log)"
    exit 1
fi
# No init runs in the root, and its network is this machine's: package
# installs there must not start daemons on this machine's ports.
printf '#!/bin/sh\nexit 101\n' >"$rootfs/usr/sbin/policy-rc.d"
chmod 755 "$rootfs/usr/sbin/policy-rc.d"
[ -s "$rootfs/etc/resolv.conf" ] || cp -L /etc/resolv.conf "$rootfs/etc/resolv.conf"
for target in proc sys dev; do
    mkdir -p "$rootfs/$target"
    mount --rbind "/$target" "$rootfs/$target"
    mount --make-rslave "$rootfs/$target"
done
# The repository as a user would clone it: this commit, under a branch of its own.
git_repo clone --quiet --bare --no-local "$repo" "$rootfs/srv/handler.git"
git -C "$rootfs/srv/handler.git" fetch --quiet "$repo" "+$commit:refs/heads/fresh-check"

in_root() {
    chroot "$rootfs" /usr/bin/env -i HOME=/root USER=root LOGNAME=root SHELL=/bin/bash TERM="${TERM:-dumb}" \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
}

# make test, on the clone.
say "make test (its output: $logs/make-test.log)"
test_started=$(date +%s)
test_status=0
run_step in_root bash -c "cd /root && git clone --quiet --branch fresh-check /srv/handler.git handler && cd handler && make test" \
    >"$logs/make-test.log" 2>&1 || test_status=$?
test_time=$(seconds_since "$test_started")
closing=$(grep -E '^[0-9]+% tests passed' "$logs/make-test.log" | tail -n 1 || true)
failed_tests=$(sed -n '/^The following tests FAILED:/,/^Errors while running/p' "$logs/make-test.log" | grep -E '^[[:space:]]+[0-9]+ - ' || true)
skipped_tests=$(sed -n '/^The following tests did not run:/,/^$/p' "$logs/make-test.log" | grep -E '^[[:space:]]+[0-9]+ - ' || true)
say "make test: ${closing:-no closing line}; exit status $test_status, in $(duration "$test_time")"
if [ "$test_status" -ne 0 ] || [ -z "$closing" ]; then
    failures+=("make test")
    if [ -n "$failed_tests" ]; then
        echo "$failed_tests"
    else
        tail -n 40 "$logs/make-test.log"
    fi
fi
# On a machine the install step has prepared, no test has a reason to skip.
if [ -n "$skipped_tests" ]; then
    say "skipped tests:"
    echo "$skipped_tests"
    failures+=("skipped tests")
fi
check_nothing_left "make test" || true

# make serve: the first page, one request, then Ctrl-C.
free_port() {
    local port
    while :; do
        port=$((20000 + RANDOM % 40000))
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "$port"
            return
        fi
    done
}
port=$(free_port)
say "make serve on port $port (its output: $logs/make-serve.log)"
serve_started=$(date +%s)
# Job control gives the server its own process group, with SIGINT not
# ignored, so that the Ctrl-C below reaches make and all it started.
set -m
in_root bash -c "cd /root/handler && PORT=$port make serve" >"$logs/make-serve.log" 2>&1 &
serve_pid=$!
set +m
serving=0
for _ in $(seq 600); do
    kill -0 "$serve_pid" 2>/dev/null || break
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
        serving=1
        break
    fi
    sleep 0.5
done
if [ $serving -eq 0 ]; then
    tail -n 20 "$logs/make-serve.log"
    say "make serve never listened on 127.0.0.1:$port"
    failures+=("make serve")
else
    page_status=$(in_root curl -s --max-time 10 -o /root/page.html -w '%{http_code}' "http://127.0.0.1:$port/" || true)
    if [ "$page_status" = 200 ] && grep -q '<form' "$rootfs/root/page.html"; then
        say "make serve: / answers 200 with the form"
    else
        say "make serve: / answers '$page_status', without the form"
        failures+=("make serve's first page")
    fi
    url="http://127.0.0.1:$port/cgi-bin/handler?action=list&data=caf%C3%A9+%26+co"
    in_root curl -s --max-time 10 "$url" >"$logs/answer" || true
    if cmp -s "$logs/answer" <(printf 'List: caf\xc3\xa9 & co\n'); then
        say "make serve: ${url#*/cgi-bin/} answers $(cat "$logs/answer")"
    else
        say "make serve: ${url#*/cgi-bin/} answers these bytes instead of 'List: café & co':"
        od -c "$logs/answer" | head -n 10
        failures+=("make serve's answer")
    fi
fi
# Ctrl-C, as the terminal sends it: SIGINT to the whole foreground group.
kill -INT -- "-$serve_pid" 2>/dev/null || true
for _ in $(seq 100); do
    kill -0 "$serve_pid" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$serve_pid" 2>/dev/null; then
    say "make serve still runs 10 s after Ctrl-C"
    failures+=("make serve's Ctrl-C")
else
    wait "$serve_pid" 2>/dev/null || true
fi
serve_pid=
if check_nothing_left "make serve's Ctrl-C"; then
    say "make serve: Ctrl-C left nothing running, in $(duration "$(seconds_since "$serve_started")")"
fi

total=$(duration "$(seconds_since "$started")")
if [ ${#failures[@]} -eq 0 ]; then
    say "passed: ${closing}; make serve answered and stopped; in $total"
else
    failed_list=$(printf '%s, ' "${failures[@]}")
    say "FAILED: ${failed_list%, }; ${closing:-no closing line from ctest}; in $total"
    exit 1
fi
