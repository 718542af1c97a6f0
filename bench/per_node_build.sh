#!/usr/bin/env bash
# per_node_build.sh BUILD_DIR
# Builds, under BUILD_DIR, the handler as it stood before the request's nodes
# were allocated in one block (one malloc per node, the heap grown as they
# come), so that the benchmark times the largest request against it in the
# same run. It is built without its confinement: that build loaded a seccomp
# filter made with libseccomp, a cost of some 0.2 ms that the largest
# request's tens of milliseconds do not notice. Prints the program's path.
set -euo pipefail
build=$1
commit=bf18b4a314962694ae7d40ba799f2e593123c6c7
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source=$build/per-node-source
if [ ! -f "$source/CMakeLists.txt" ]; then
    git -C "$root" cat-file -e "$commit^{commit}" 2>/dev/null || {
        echo "per_node_build.sh: commit $commit is not in this clone's history" >&2
        exit 1
    }
    mkdir -p "$source"
    git -C "$root" archive "$commit" | tar -x -C "$source"
fi
cmake -S "$source" -B "$build/per-node" -DCGI_CONFINE=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build/per-node" -j "$(nproc)" --target handler >/dev/null
echo "$build/per-node/handler"
