#!/usr/bin/env bash
# Ostrel.dll under Wine, in a private prefix:
#   registration: regsvr32, the exact keys and values read back, then their removal;
#   com:          regsvr32, then the test host (COM only) in the system code page, in a
#                 double-byte code page, and once more with the pipe opens traced;
#   end-to-end:   regsvr32, lumara-sim serving the pipe with its virtual panel, the host's
#                 session, and the panel's picture replayed from the simulator's report log;
#   both:         the x64 and the x86 DLL registered together, each unregistered while the
#                 other stays (needs Wine's 32-bit side, else code 77).
# The DLL and host are the x64 or the x86 build: each is registered by the regsvr32 of its own
# bitness and read back in its own registry view (the x86 one needs Wine's 32-bit side; without
# it the script skips with code 77). lumara-sim is always the x64 build.
# Usage: ostrel_wine_test.sh registration|com <Ostrel.dll> <ostrel_host.exe> <work dir>
#        ostrel_wine_test.sh end-to-end <Ostrel.dll> <ostrel_host.exe> <work dir> \
#            <lumara-sim.exe> <panel_replay.exe>
#        ostrel_wine_test.sh both <x64 Ostrel.dll> <x86 Ostrel.dll> <work dir>
set -uo pipefail
mode="$1"; dll="$2"; host="$3"; work="$4"
sim="${5:-}"; replay="${6:-}"
for f in "$dll" "$host" $sim $replay; do
    [ -f "$f" ] || { echo "FAIL: $f is not built"; exit 1; }
done
repo="$(cd "$(dirname "$0")/../.." && pwd)"
source "$repo/tests/wine/wine-env.sh"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if [ "$mode" = both ] || x86_64-w64-mingw32-objdump -f "$dll" | grep -q 'file format pei-i386'; then
    if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
        echo "SKIP: this Wine cannot run 32-bit programs (no wine32, or a kernel without 32-bit support)"
        exit 77
    fi
fi
if x86_64-w64-mingw32-objdump -f "$dll" | grep -q 'file format pei-i386'; then
    view=/reg:32 other_view=/reg:64 platform=win32 other_platform=win64
    objdump=i686-w64-mingw32-objdump regsvr32='C:\windows\syswow64\regsvr32.exe'
else
    view=/reg:64 other_view=/reg:32 platform=win64 other_platform=win32
    objdump=x86_64-w64-mingw32-objdump regsvr32='C:\windows\system32\regsvr32.exe'
fi

rm -rf "$work"
mkdir -p "$work/bin"
"$repo/tests/wine/wine-prefix.sh" "$work/prefix" >/dev/null || { echo "no prefix"; exit 1; }
export WINEPREFIX="$work/prefix"
if [ "$mode" = both ]; then
    mkdir -p "$work/bin32"
    cp "$dll" "$work/bin/"
    cp "$host" "$work/bin32/"  # the x86 DLL
else
    cp "$dll" "$host" $sim $replay "$work/bin/"
fi
cd "$work/bin"
winedll="$(winepath -w "$work/bin/Ostrel.dll" 2>/dev/null)"

# One Wine server for the whole script.
wineserver -p
trap 'wineserver -k 2>/dev/null' EXIT

clsid='{6B1E5A20-3C7D-4F81-9A52-7E0D4C2B9F13}'
libid='{9C4D2E71-58A3-4B6F-8E10-3F7A2D6C5B84}'
category='{FCB0C2A3-9747-4c95-9d02-820AFEDEF13F}'

# `wine reg query KEY /s` in the DLL's view without carriage returns and blank lines.
dump() { wine reg query "$1" $view /s 2>/dev/null | tr -d '\r' | sed '/^$/d'; }

expect_dump() {  # key, expected text
    local got
    got="$(dump "$1")"
    if [ "$got" != "$2" ]; then
        fail "$1"
        diff <(echo "$2") <(echo "$got")
    fi
}

expect_absent() {
    if wine reg query "$1" $view >/dev/null 2>&1; then fail "$1 still present"; fi
}

wine "$regsvr32" /s Ostrel.dll || fail "regsvr32 returned $?"

if [ "$mode" = registration ]; then
    # The four exports by name, ordinals 1 to 4 in this order.
    exports="$("$objdump" -p Ostrel.dll | tr -d '\r')"
    grep -q 'Ordinal Base 1$' <<<"$exports" || fail "export ordinal base"
    i=0
    for name in DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer; do
        grep -qE "^\s+\[ +$i\] $name\$" <<<"$exports" || fail "export $name at ordinal $((i + 1))"
        i=$((i + 1))
    done
    [ "$(grep -cE '^\s+\[ +[0-9]+\] [A-Za-z_]' <<<"$exports")" = 4 ] || fail "exports other than the four"

    S='    '
    expect_dump "HKCR\\CLSID\\$clsid" "HKEY_CLASSES_ROOT\\CLSID\\$clsid
${S}(Default)${S}REG_SZ${S}StatusSink Class
HKEY_CLASSES_ROOT\\CLSID\\$clsid\\Implemented Categories
HKEY_CLASSES_ROOT\\CLSID\\$clsid\\Implemented Categories\\$category
${S}(Default)${S}REG_SZ${S}Media Status Sink
HKEY_CLASSES_ROOT\\CLSID\\$clsid\\InprocServer32
${S}(Default)${S}REG_SZ${S}$winedll
${S}ThreadingModel${S}REG_SZ${S}Apartment
HKEY_CLASSES_ROOT\\CLSID\\$clsid\\ProgID
${S}(Default)${S}REG_SZ${S}Quillon.StatusSink.1
HKEY_CLASSES_ROOT\\CLSID\\$clsid\\TypeLib
${S}(Default)${S}REG_SZ${S}$libid
HKEY_CLASSES_ROOT\\CLSID\\$clsid\\VersionIndependentProgID
${S}(Default)${S}REG_SZ${S}Quillon.StatusSink"
    expect_dump 'HKCR\Quillon.StatusSink.1' "HKEY_CLASSES_ROOT\\Quillon.StatusSink.1
${S}(Default)${S}REG_SZ${S}StatusSink Class
HKEY_CLASSES_ROOT\\Quillon.StatusSink.1\\CLSID
${S}(Default)${S}REG_SZ${S}$clsid"
    expect_dump 'HKCR\Quillon.StatusSink' "HKEY_CLASSES_ROOT\\Quillon.StatusSink
${S}(Default)${S}REG_SZ${S}StatusSink Class
HKEY_CLASSES_ROOT\\Quillon.StatusSink\\CLSID
${S}(Default)${S}REG_SZ${S}$clsid
HKEY_CLASSES_ROOT\\Quillon.StatusSink\\CurVer
${S}(Default)${S}REG_SZ${S}Quillon.StatusSink.1"
    expect_dump "HKCR\\Component Categories\\$category" "HKEY_CLASSES_ROOT\\Component Categories\\$category
${S}409${S}REG_SZ${S}Media Status Sink"
    # The type library, registered from the DLL itself, with both dual interfaces.
    # (Wine's reg prints no header for a queried key without values.)
    expect_dump "HKCR\\TypeLib\\$libid\\1.0\\409" "HKEY_CLASSES_ROOT\\TypeLib\\$libid\\1.0\\409\\$platform
${S}(Default)${S}REG_SZ${S}$winedll"
    dump "HKCR\\TypeLib\\$libid\\1.0" | grep -qx "${S}(Default)${S}REG_SZ${S}Quillon 1.0 Type Library" ||
        fail "type library help string"
    for iid in '{075FC453-F236-41DA-B90D-9FBB8BBDC101}' '{A70D81F2-C9D2-4053-AF0E-CDEA39BDD1AD}'; do
        dump "HKCR\\Interface\\$iid\\TypeLib" | grep -q "$libid" || fail "interface $iid"
    done

    # Registering again replaces the class key: a stray subkey under it disappears.
    wine reg add "HKCR\\CLSID\\$clsid\\Stray" $view /f >/dev/null 2>&1
    wine "$regsvr32" /s Ostrel.dll || fail "second regsvr32 returned $?"
    expect_absent "HKCR\\CLSID\\$clsid\\Stray"

    wine "$regsvr32" /u /s Ostrel.dll || fail "regsvr32 /u returned $?"
    wine reg query "HKCR\\Component Categories\\$category" $view >/dev/null 2>&1 || fail "category key removed"
    expect_dump "HKCR\\Component Categories\\$category" ""
    wine reg query 'HKCR\CLSID' $view >/dev/null 2>&1 || fail "CLSID key removed"
    expect_absent "HKCR\\CLSID\\$clsid"
    expect_absent 'HKCR\Quillon.StatusSink.1'
    expect_absent 'HKCR\Quillon.StatusSink'
    expect_absent "HKCR\\TypeLib\\$libid"

    # The other build's registration (stood in for by its platform's type library key and its
    # view's class key) outlives this build's unregistration, with the library keys both share.
    wine "$regsvr32" /s Ostrel.dll || fail "regsvr32 beside the other build returned $?"
    wine reg add "HKCR\\TypeLib\\$libid\\1.0\\409\\$other_platform" $view /ve /d 'C:\other\Ostrel.dll' /f >/dev/null 2>&1
    wine reg add "HKCR\\CLSID\\$clsid\\InprocServer32" $other_view /ve /d 'C:\other\Ostrel.dll' /f >/dev/null 2>&1
    wine "$regsvr32" /u /s Ostrel.dll || fail "regsvr32 /u beside the other build returned $?"
    expect_absent "HKCR\\TypeLib\\$libid\\1.0\\409\\$platform"
    # The ProgIDs and the category's name are one for both views: the other build keeps them.
    dump 'HKCR\Quillon.StatusSink.1\CLSID' | grep -q "$clsid" || fail "the ProgID the other build uses went"
    dump 'HKCR\Quillon.StatusSink\CurVer' | grep -q 'Quillon.StatusSink.1' ||
        fail "the independent ProgID the other build uses went"
    dump "HKCR\\Component Categories\\$category" | grep -q 'Media Status Sink' ||
        fail "the category name the other build uses went"
    dump "HKCR\\TypeLib\\$libid\\1.0" | grep -q "409\\\\$other_platform\$" || fail "the other build's type library key went"
    for v in $view $other_view; do
        dump_view() { wine reg query "$1" $v /s 2>/dev/null | tr -d '\r'; }
        dump_view "HKCR\\Interface\\{075FC453-F236-41DA-B90D-9FBB8BBDC101}\\TypeLib" | grep -q "$libid" ||
            fail "the shared interface key went from view $v"
    done
    wine reg query "HKCR\\CLSID\\$clsid\\InprocServer32" $other_view >/dev/null 2>&1 || fail "the other build's class key went"
    wine reg delete "HKCR\\TypeLib\\$libid" $view /f >/dev/null 2>&1
    wine reg delete "HKCR\\CLSID\\$clsid" $other_view /f >/dev/null 2>&1
    wine reg delete 'HKCR\Quillon.StatusSink.1' $view /f >/dev/null 2>&1
    wine reg delete 'HKCR\Quillon.StatusSink' $view /f >/dev/null 2>&1

    # A ProgID key holding a subkey of someone else's cannot go: unregistration fails.
    wine "$regsvr32" /s Ostrel.dll || fail "third regsvr32 returned $?"
    wine reg add 'HKCR\Quillon.StatusSink\Foreign' $view /f >/dev/null 2>&1
    if wine "$regsvr32" /u /s Ostrel.dll; then fail "unregistration with a foreign subkey succeeded"; fi
    wine reg query 'HKCR\Quillon.StatusSink\Foreign' $view >/dev/null 2>&1 || fail "foreign subkey removed"
elif [ "$mode" = both ]; then
    # The real x86 build beside the x64 one (registered above): each build's unregistration
    # leaves what the other still uses, the last one's leaves nothing.
    x86() { (cd "$work/bin32" && wine 'C:\windows\syswow64\regsvr32.exe' /s "$@" Ostrel.dll); }
    x64() { wine "$regsvr32" /s "$@" Ostrel.dll; }
    class_in() { wine reg query "HKCR\\CLSID\\$clsid\\InprocServer32" "$1" >/dev/null 2>&1; }
    for first in x86 x64; do
        x64 || fail "x64 regsvr32 returned $?"
        x86 || fail "x86 regsvr32 returned $?"
        if [ $first = x86 ]; then last=x64 kept=/reg:64 gone=/reg:32 keptlib=win64
        else last=x86 kept=/reg:32 gone=/reg:64 keptlib=win32; fi
        $first /u || fail "$first regsvr32 /u returned $?"
        dump 'HKCR\Quillon.StatusSink.1\CLSID' | grep -q "$clsid" ||
            fail "the $first build's removal took the ProgID the $last build uses"
        dump 'HKCR\Quillon.StatusSink\CurVer' | grep -q 'Quillon.StatusSink.1' ||
            fail "the $first build's removal took the independent ProgID the $last build uses"
        dump "HKCR\\Component Categories\\$category" | grep -q 'Media Status Sink' ||
            fail "the $first build's removal took the category name the $last build uses"
        class_in $kept || fail "the $last build's class went with the $first build's removal"
        class_in $gone && fail "the $first build's class stayed"
        dump "HKCR\\TypeLib\\$libid\\1.0\\409" | grep -q "409\\\\$keptlib\$" ||
            fail "the $last build's type library went with the $first build's removal"
        $last /u || fail "$last regsvr32 /u returned $?"
        expect_absent 'HKCR\Quillon.StatusSink.1'
        expect_absent 'HKCR\Quillon.StatusSink'
        expect_dump "HKCR\\Component Categories\\$category" ""
        class_in /reg:64 && fail "the x64 class stayed after both removals"
        class_in /reg:32 && fail "the x86 class stayed after both removals"
        expect_absent "HKCR\\TypeLib\\$libid"
    done
elif [ "$mode" = end-to-end ]; then
    mkfifo sim.in
    timeout 120 wine lumara-sim.exe --quiet --report-log reports.txt < sim.in > sim.out 2>&1 &
    simpid=$!
    exec 7>sim.in  # the simulator's standard input, kept open until "stop"
    OSTREL_END_TO_END=1 timeout 90 wine ostrel_host.exe --gtest_filter='EndToEnd.*' 2>&1 |
        tr -d '\r' > host-e2e.log
    grep -q '^\[  PASSED  \] 1 test' host-e2e.log && ! grep -q 'SKIPPED' host-e2e.log ||
        { cat host-e2e.log; fail "host session"; }
    # The run loop redraws on its own thread: poll the picture for a while.
    expected=$'line0: Blue Train  \nline1: 01:15       '
    for _ in $(seq 1 40); do
        wine panel_replay.exe reports.txt 2>/dev/null | tr -d '\r' > picture.txt
        [ "$(head -2 picture.txt)" = "$expected" ] && grep -q '\[CD\]' picture.txt && break
        sleep 0.5
    done
    cat picture.txt
    [ "$(head -2 picture.txt)" = "$expected" ] || fail "the panel does not show the track"
    grep -q '^media:.*\[CD\]' picture.txt || fail "the CD icon is not lit"
    grep -q '^status:.*\[play\]' picture.txt || fail "the play icon is not lit"
    trap '' PIPE  # a simulator that already ended must not end this script
    echo stop >&7
    exec 7>&-
    wait "$simpid" || fail "lumara-sim ended with $?"
else
    # Everything the host checks, in the system code page.
    timeout 120 wine ostrel_host.exe 2>&1 | tr -d '\r' | tee host.log | grep -E '^\[ *(FAILED|PASSED|SKIPPED) ' || true
    grep -q '^\[  PASSED  \]' host.log && ! grep -q '^\[  FAILED  \]' host.log || fail "host tests"

    # Double-byte system code page (932).
    LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 OSTREL_EXPECT_ACP=932 \
        timeout 60 wine ostrel_host.exe --gtest_filter='*DoubleByte*' 2>&1 | tr -d '\r' > host-dbcs.log
    grep -q '^\[  PASSED  \] 1 test' host-dbcs.log && ! grep -q 'SKIPPED' host-dbcs.log ||
        { cat host-dbcs.log; fail "double-byte run"; }

    # The pipe is opened for identification only (SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION
    # = 0x110000). Wine does not enforce impersonation levels, so its file trace is the witness.
    WINEDEBUG=+file timeout 60 wine ostrel_host.exe --gtest_filter='*ABusyPipeIsWaitedFor*' > /dev/null 2> host-file.log
    grep -aF 'CreateFileW L"\\\\.\\pipe\\ZELK_FRONTPANEL_PIPE" GENERIC_READ GENERIC_WRITE  creation 3 attributes 0x110000' host-file.log >/dev/null ||
        fail "pipe open without SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "all passed"
