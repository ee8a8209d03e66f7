#!/usr/bin/env bash
# LumaraNowPlaying.exe under Wine, which has no media session class: the options, and a run
# that traces once, logs one line in %TEMP%\LumaraNowPlaying.log and ends with 0; --quit with no
# copy running ends with 0.
#   nowplaying_options_wine_test.sh <LumaraNowPlaying.exe>
set -uo pipefail
EXE="$1"
REPO="$(cd "$(dirname "$0")/../.." && pwd)"
source "$REPO/tests/wine/wine-env.sh"
bash "$REPO/tests/wine/wine-prefix.sh" || exit 1

source "$REPO/tests/wine/wine-checks.sh"
logs() { find "$WINEPREFIX/drive_c/users" -name LumaraNowPlaying.log 2>/dev/null; }

out="$(wine "$EXE" --version 2>/dev/null)"
check_that "--version ends with 0" test $? -eq 0
check_that "--version prints the version" contains "$out" "LumaraNowPlaying 1."
out="$(wine "$EXE" --help 2>/dev/null)"
check_that "--help ends with 0" test $? -eq 0
check_that "--help names --quit" contains "$out" "--quit"
out="$(wine "$EXE" --no-such-option 2>/dev/null)"
check_that "an unknown option ends with 2" test $? -eq 2
check_that "an unknown option is named" contains "$out" "unknown option: --no-such-option"

logs | while read -r f; do rm -f "$f"; done
trace="$(WINEDEBUG=-all,+debugstr timeout 60 wine "$EXE" 2>&1)"
rc=$?
check_that "without the media session class it ends with 0 (got $rc)" test $rc -eq 0
check_that "it traces why, once" test "$(grep -c 'media sessions are not available' <<<"$trace")" -eq 1
log="$(logs | head -1)"
check_that "it logs one line in %TEMP%" test -n "$log" -a "$(grep -c 'not available' "$log" 2>/dev/null)" = 1

timeout 60 wine "$EXE" --quit
check_that "--quit with no copy running ends with 0" test $? -eq 0

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
