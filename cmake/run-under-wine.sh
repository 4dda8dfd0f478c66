#!/bin/sh
# Runs a Windows program under wine: the cross build's emulator for CTest.
#
# Wine's server and its background programs normally end with the last Windows
# program, and starting them again costs seconds per test. They are started
# here instead, kept for a while and left to end by themselves once nothing
# has used them for that long. They get no standard streams of the caller:
# CTest waits until every holder of a test's output pipe has closed it.
# WINELOADER, where the build set it, is the loader that runs the programs.
set -e
# Wine maps Windows names to the system's by the locale's character set: in
# a locale that is not UTF-8 a name outside ASCII would not reach its file.
case $(locale charmap 2>/dev/null) in
  UTF-8) ;;
  *) export LC_ALL=C.UTF-8 ;;
esac
: "${WINESERVER_IDLE_SECONDS:=30}"
wine=${WINELOADER:-wine}
if wineserver -p"$WINESERVER_IDLE_SECONDS" </dev/null >/dev/null 2>&1; then
  "$wine" wineboot </dev/null >/dev/null 2>&1 || true
fi
exec "$wine" "$@"
