#!/usr/bin/env bash
# Runs one Windows GoogleTest program under Wine and judges it by the XML report:
# a program that crashes under Wine may still exit 0.
#
# The program runs in its own folder and writes its report into a new folder there, named
# by a relative path: Windows and Linux read that path alike, whatever drive the prefix
# maps the folder to, so the report lands where this script reads it without any path
# conversion.
set -u
program=$(realpath "$1")
shift
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
wine=${WINE:-/usr/lib/wine/wine64}
folder=$(dirname "$program")
cd "$folder" || exit 1
if ! reports=$(mktemp -d gtest-report.XXXXXX); then
  echo "run-gtest: cannot make a folder for the report in $folder" >&2
  exit 1
fi
trap 'rm -rf "$folder/$reports"' EXIT
report=$reports/report.xml
"$wine" "$program" --gtest_output="xml:$report" "$@"
status=$?
if [ ! -s "$report" ]; then
  echo "run-gtest: no report at $folder/$report from $program (exit $status): the program did not finish" >&2
  exit 1
fi
tests=$(grep -o '<testsuites[^>]*' "$report" | grep -o ' tests="[0-9]*"' | grep -o '[0-9]*')
failures=$(grep -o '<testsuites[^>]*' "$report" | grep -o ' failures="[0-9]*"' | grep -o '[0-9]*')
errors=$(grep -o '<testsuites[^>]*' "$report" | grep -o ' errors="[0-9]*"' | grep -o '[0-9]*')
echo "run-gtest: $program: ${tests:-0} tests, ${failures:-?} failures, ${errors:-?} errors (exit $status)"
[ "${tests:-0}" -gt 0 ] && [ "${failures:-1}" = 0 ] && [ "${errors:-1}" = 0 ] && [ "$status" = 0 ]
