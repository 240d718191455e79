#!/usr/bin/env bash
# Runs one Windows GoogleTest program under Wine and judges it by the XML report:
# a program that crashes under Wine may still exit 0.
set -u
program=$(realpath "$1")
shift
report=$(mktemp --suffix=.xml)
trap 'rm -f "$report"' EXIT
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
wine=${WINE:-/usr/lib/wine/wine64}
cd "$(dirname "$program")" || exit 1
"$wine" "$program" --gtest_output="xml:$(winepath -w "$report" 2>/dev/null || echo "$report")" "$@"
status=$?
if [ ! -s "$report" ]; then
  echo "run-gtest: no report from $program (exit $status): the program did not finish" >&2
  exit 1
fi
tests=$(grep -o '<testsuites[^>]*' "$report" | grep -o ' tests="[0-9]*"' | grep -o '[0-9]*')
failures=$(grep -o '<testsuites[^>]*' "$report" | grep -o ' failures="[0-9]*"' | grep -o '[0-9]*')
errors=$(grep -o '<testsuites[^>]*' "$report" | grep -o ' errors="[0-9]*"' | grep -o '[0-9]*')
echo "run-gtest: $program: ${tests:-0} tests, ${failures:-?} failures, ${errors:-?} errors (exit $status)"
[ "${tests:-0}" -gt 0 ] && [ "${failures:-1}" = 0 ] && [ "${errors:-1}" = 0 ] && [ "$status" = 0 ]
