#!/usr/bin/env bash
# install_test.sh BUILD_DIR
# Installs BUILD_DIR into a temporary prefix, checks the installed layout,
# renders the manual page, then builds two programs against the installed
# tree only (C through pkg-config, C++ through find_package) and runs them.
set -uo pipefail
build=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
failed=0
fail() {
    echo "FAIL: $*"
    failed=$((failed + 1))
}

cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" || {
    cat "$scratch/install.log"
    exit 1
}
for file in lib/cgi-bin/handler include/cgi/cgi.h share/man/man3/cgi.3; do
    [ -f "$prefix/$file" ] || fail "$file is not installed"
done
[ -x "$prefix/lib/cgi-bin/handler" ] || fail "lib/cgi-bin/handler is not executable"
library=$(find "$prefix" -name libcgi.a)
package=$(find "$prefix" -name cgiConfig.cmake)
pc=$(find "$prefix" -name cgi.pc)
[ -n "$library" ] || fail "no libcgi.a installed"
[ -n "$package" ] || fail "no cgiConfig.cmake installed"
[ -n "$pc" ] || fail "no cgi.pc installed"

warnings=$(groff -man -ww -z -Tutf8 "$prefix/share/man/man3/cgi.3" 2>&1)
[ -z "$warnings" ] || fail "the manual page renders with warnings: $warnings"
man -l "$prefix/share/man/man3/cgi.3" 2>/dev/null | grep -q 'cgi_get_param' ||
    fail "man -l does not render the manual page"

answer=$(env -i QUERY_STRING='action=list&data=two+words' "$prefix/lib/cgi-bin/handler")
[ "$answer" = $'Pragma: No-Cache\nContent-type: text/plain\n\nList: two words' ] ||
    fail "the installed handler answered: $answer"

# C, through pkg-config, with nothing of the source tree on the include path.
flags=$(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --cflags --libs cgi) || fail "pkg-config cgi failed"
if cc -std=c99 -Wall -Wextra -Werror -o "$scratch/hello" "$here/consumer/hello.c" $flags; then
    answer=$(env -i QUERY_STRING='name=J+Doe' "$scratch/hello")
    [ "$answer" = $'Content-type: text/plain\n\nHello, J Doe!' ] || fail "hello answered: $answer"
else
    fail "the C consumer does not build with: $flags"
fi

# C++, through the CMake package.
if cmake -S "$here/consumer" -B "$scratch/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
    >"$scratch/consumer.log" 2>&1 && cmake --build "$scratch/consumer" >>"$scratch/consumer.log" 2>&1; then
    answer=$(env -i QUERY_STRING='text=first&TEXT=a+b' REMOTE_ADDR=127.0.0.1 "$scratch/consumer/encode")
    [ "$answer" = $'[a][%20][b]\na%20b from 127.0.0.1' ] || fail "encode answered: $answer"
else
    cat "$scratch/consumer.log"
    fail "the C++ consumer does not build with find_package(cgi)"
fi

if [ "$failed" -gt 0 ]; then
    exit 1
fi
echo "installed into a temporary prefix; the C (pkg-config) and C++ (find_package) consumers build and answer"
