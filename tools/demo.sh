#!/usr/bin/env bash
# Builds Tavrix and runs it on a sample directory, showing the names before and after.
# Usage: tools/demo.sh
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-demo -G Ninja -DTAVRIX_TESTS=OFF >/dev/null
cmake --build build-demo >/dev/null
sample=$(mktemp -d /tmp/tavrix-sample.XXXXXX)
trap 'rm -rf "$sample"' EXIT  # the sample goes when the demo ends, however it ends
cd "$sample"
echo "draft" > Example.doc
echo "older draft" > Example.doc.000.bak
echo "notes" > notes.txt
echo "In $sample before:"; ls -1
echo
"$OLDPWD/build-demo/tavrix" '*.doc'
"$OLDPWD/build-demo/tavrix" /FORMAT3 notes.txt
echo
echo "After:"; ls -1
