#!/usr/bin/env bash
# The Linux package: the manual page renders without warnings, `cmake --install --strip` puts
# the program (stripped), its page and its licence under a prefix, the .deb declares what
# dpkg-shlibdeps finds the program needs and passes lintian without an error, and it installs
# with dpkg, runs, and removes.
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

cmake --install "$build" --prefix "$work/prefix" --strip >/dev/null
check "install: the program" test -x "$work/prefix/bin/tavrix"
check "install: the program, stripped" sh -c "! objdump -h '$work/prefix/bin/tavrix' | grep -q debug_info"
check "install: the manual page, compressed" test -f "$work/prefix/share/man/man1/tavrix.1.gz"
check "install: the bash completion, where bash-completion looks" \
    bash -n "$work/prefix/share/bash-completion/completions/tavrix"
check "install: the licence" test -f "$work/prefix/share/doc/tavrix/copyright"

(cd "$build" && cpack -G DEB -B "$work/deb" >/dev/null)
deb=$(ls "$work"/deb/tavrix_*.deb 2>/dev/null | head -n 1)
check "cpack made a .deb" test -n "$deb"
if [ -n "$deb" ]; then
    mkdir -p "$work/shlibs/debian" && echo "Source: tavrix" > "$work/shlibs/debian/control"
    needs=$(cd "$work/shlibs" && dpkg-shlibdeps -O -e "$build/tavrix" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
    declared=$(dpkg-deb -f "$deb" Depends)
    check "Depends is what dpkg-shlibdeps finds ($needs)" test "$needs" = "$declared"
    if command -v lintian >/dev/null; then
        check "lintian finds no error" lintian --fail-on error "$deb"
    else
        echo "FAIL: lintian is missing"
        failed=$((failed + 1))
    fi
fi
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
