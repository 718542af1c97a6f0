# skip_unless_installed COMMAND[:PACKAGE]...
# Ends the test as skipped (CTest's code 77), with the reason, when a command
# it needs is missing; PACKAGE is the Debian package that brings it (the
# command's own name when omitted).
skip_unless_installed() {
    local need command package
    for need in "$@"; do
        command=${need%%:*}
        package=${need#*:}
        if ! command -v "$command" >/dev/null; then
            echo "SKIPPED: $command is not installed (Debian package $package)"
            exit 77
        fi
    done
}
