#!/usr/bin/env bash
# Static checks of the sources: clang-tidy with the checks named in .clang-tidy, cppcheck
# (warning, performance, portability), and the formatting that .clang-format describes, for
# every C and C++ file of the repository. Usage: tools/lint.sh BUILD_DIR
# (a build configured with CMAKE_EXPORT_COMPILE_COMMANDS=ON).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
sources=$(git ls-files 'app/*.cpp' 'backup/*.cpp' 'console/*.cpp' 'pathstr/*.cpp' 'platform/*.cpp' |
          grep -v -e '_test\.cpp$' -e 'platform-win32\.cpp$')
status=0
# Only findings are printed: clang-tidy's counts of the warnings it hid are left out.
tidy=$(clang-tidy -p "$build" --quiet $sources 2>&1) || status=1
printf '%s\n' "$tidy" | grep -v -E '^[0-9]+ warnings? generated\.$|^Suppressed [0-9]+ warnings|^Use -header-filter|^$' || true
cppcheck --enable=warning,performance,portability --std=c++17 --error-exitcode=1 --quiet \
    --inline-suppr -D__linux__ -I . $sources platform/platform-win32.cpp -U_WIN32 || status=1
git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run --Werror || status=1
[ $status -eq 0 ] && echo "lint: clean"
exit $status
