#!/bin/sh
# Starts (start) or stops (stop) a lasting Wine server for the tests' prefix ($WINEPREFIX),
# with Wine's own services started once and holding none of the tests' pipes.
# Usage: wine-server.sh start|stop WINE64
wine64=$2
server=$(dirname "$wine64")/wineserver
case $1 in
    start)
        mkdir -p "$WINEPREFIX"
        "$server" -p </dev/null >/dev/null 2>&1
        "$wine64" wineboot </dev/null >/dev/null 2>&1
        ;;
    stop)
        "$server" -k </dev/null >/dev/null 2>&1
        ;;
esac
exit 0
