#!/usr/bin/env bash
# binfmt.sh ARCH...
# Makes the kernel run programs of each Debian architecture ARCH (arm64,
# armhf) through qemu-user-static, as a web server's exec of a cross-built
# CGI program needs. Installing qemu-user-static does this on a machine run
# by systemd; where nothing did (a container, a VM started without it), this
# mounts binfmt_misc and registers the package's own entries, as root.
# Exits 0 when every ARCH runs, 1 with the reason otherwise.
set -euo pipefail
binfmt=/proc/sys/fs/binfmt_misc
for arch in "$@"; do
    cpu=$(dpkg-architecture -a "$arch" -qDEB_HOST_GNU_CPU 2>/dev/null) || {
        echo "binfmt.sh: dpkg-architecture knows no architecture '$arch'" >&2
        exit 1
    }
    [ "$arch" = "$(dpkg --print-architecture)" ] && continue
    [ -e "$binfmt/qemu-$cpu" ] && grep -q -x enabled "$binfmt/qemu-$cpu" && continue
    entry=/usr/lib/binfmt.d/qemu-$cpu.conf
    if [ ! -f "$entry" ]; then
        echo "binfmt.sh: no $entry (Debian package qemu-user-static)" >&2
        exit 1
    fi
    if [ "$(id -u)" -ne 0 ]; then
        echo "binfmt.sh: qemu-$cpu is not registered with binfmt_misc, and only root may register it" >&2
        exit 1
    fi
    if [ ! -e "$binfmt/register" ]; then
        mount -t binfmt_misc binfmt_misc "$binfmt" || {
            echo "binfmt.sh: binfmt_misc cannot be mounted here" >&2
            exit 1
        }
    fi
    [ -e "$binfmt/qemu-$cpu" ] || grep -v '^#' "$entry" >"$binfmt/register" || {
        echo "binfmt.sh: the kernel refused $entry" >&2
        exit 1
    }
    echo 1 >"$binfmt/qemu-$cpu"
done
