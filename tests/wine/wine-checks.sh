# Sourced by the Wine test scripts: counted checks of an expected against an actual value.
failures=0
check() {  # check <description> <expected> <actual>
    if [ "$2" == "$3" ]; then
        echo "ok: $1"
    else
        echo "FAIL: $1: expected '$2', got '$3'"
        failures=$((failures + 1))
    fi
}
# check_that <description> <command...>: the command's success is the check.
check_that() {
    local what="$1"
    shift
    if "$@"; then
        echo "ok   - $what"
    else
        echo "FAIL - $what"
        failures=$((failures + 1))
    fi
}
contains() { grep -qF -- "$2" <<<"$1"; }
