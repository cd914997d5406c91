#!/usr/bin/env bash
# Static checks of the sources: clang-tidy with the checks named in .clang-tidy, cppcheck
# (warning, performance, portability), the formatting that .clang-format describes, for
# every C and C++ file of the repository, and the length of the program's functions.
# Usage: tools/lint.sh BUILD_DIR
# (a build configured with CMAKE_EXPORT_COMPILE_COMMANDS=ON).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
sources=$(git ls-files 'app/*.cpp' 'backup/*.cpp' 'console/*.cpp' 'pathstr/*.cpp' 'platform/*.cpp' |
          grep -v -e '_test\.cpp$')
# The Windows files are not in a POSIX build's compile commands: cppcheck alone reads them.
posix_sources=$(printf '%s\n' $sources | grep -v -e '-win32\.cpp$' -e '^platform/win32_')
status=0
# Only findings are printed: clang-tidy's counts of the warnings it hid are left out.
tidy=$(clang-tidy -p "$build" --quiet $posix_sources 2>&1) || status=1
printf '%s\n' "$tidy" | grep -v -E '^[0-9]+ warnings? generated\.$|^Suppressed [0-9]+ warnings|^Use -header-filter|^$' || true
cppcheck --enable=warning,performance,portability --std=c++17 --error-exitcode=1 --quiet \
    --inline-suppr -D__linux__ -I . $sources -U_WIN32 || status=1
git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run --Werror || status=1
# Functions that fit on a screen: none of the program's over 60 lines.
python3 tools/function_lengths.py 60 $sources || status=1
[ $status -eq 0 ] && echo "lint: clean"
exit $status
