#!/usr/bin/env bash
# The Linux package: the manual page renders without warnings, `cmake --install` puts the
# program and its page under a prefix, and the .deb installs with dpkg, runs, and removes.
# Usage: package_test.sh BUILD_DIR
set -u
build=$(cd "$1" && pwd)
passed=0
failed=0
check() {  # check NAME COMMAND...
    local name=$1
    shift
    if "$@"; then passed=$((passed + 1)); else echo "FAIL: $name"; failed=$((failed + 1)); fi
}
work=$(mktemp -d /tmp/tavrix-package.XXXXXX)
trap 'rm -rf "$work"' EXIT

lint=$(groff -man -Tutf8 -ww -z "$build/tavrix.1" 2>&1)
check "the manual page renders without warnings" test -z "$lint"
[ -n "$lint" ] && echo "$lint"

cmake --install "$build" --prefix "$work/prefix" >/dev/null
check "install: the program" test -x "$work/prefix/bin/tavrix"
check "install: the manual page, compressed" test -f "$work/prefix/share/man/man1/tavrix.1.gz"

(cd "$build" && cpack -G DEB -B "$work/deb" >/dev/null)
deb=$(ls "$work"/deb/tavrix_*.deb 2>/dev/null | head -n 1)
check "cpack made a .deb" test -n "$deb"
if [ "$(id -u)" = 0 ] && [ -n "$deb" ]; then
    check "dpkg installs it" dpkg -i "$deb" >/dev/null
    check "the installed program says its version" \
        test "$(/usr/bin/tavrix --version)" = "Tavrix v$(sed -n 's/^#define TAVRIX_VERSION "\(.*\)"/\1/p' "$build/generated/app/version.h")"
    mkdir "$work/sample" && touch "$work/sample/Example.doc"
    (cd "$work/sample" && /usr/bin/tavrix /Q Example.doc)
    check "the installed program renames" test -f "$work/sample/Example.doc.000.bak"
    check "the manual page is installed" test -f /usr/share/man/man1/tavrix.1.gz
    check "dpkg removes it" dpkg -r tavrix >/dev/null
    check "nothing is left behind" test ! -e /usr/bin/tavrix
else
    echo "not root: the dpkg steps are left out"
fi
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
