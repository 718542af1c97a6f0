# Shared by the package tests, sourced once `here` (their folder) is set.
# Inside a package build they stand aside: they build these very packages.
if [ -n "${CGI_IN_PACKAGE_BUILD:-}" ]; then
    echo "SKIPPED: running inside the package build it would test"
    exit 77
fi
source "$here/../require.sh"

# skip_unless_can_build ARCH: ends the test as skipped unless the Debian
# packaging tools are installed and, for another architecture than this
# machine's, its cross compilers and musl.
skip_unless_can_build() {
    local arch=$1 triple
    skip_unless_installed dpkg-buildpackage:dpkg-dev dh:debhelper
    [ "$arch" = "$(dpkg --print-architecture)" ] && return 0
    triple=$(dpkg-architecture -a "$arch" -qDEB_HOST_GNU_TYPE 2>/dev/null) || exit 2
    skip_unless_installed "$triple-g++:crossbuild-essential-$arch"
    dpkg-query -W -f='${Status}' "musl-dev:$arch" 2>/dev/null | grep -q 'install ok installed' || {
        echo "SKIPPED: musl-dev:$arch is not installed (scripts/install-deps.sh deb-$arch)"
        exit 77
    }
}
