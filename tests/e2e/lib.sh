# Helpers for the end-to-end tests: run the real images in the sandbox and
# compare what they print and leave behind.
# Expects SOURCE_DIR, BUILD_DIR and SANDBOX in the environment (set by ctest).
set -u

PASSED=0
FAILED=0
CURRENT_CASE=""

case_() { CURRENT_CASE=$1; }

fail_() {
    FAILED=$((FAILED + 1))
    echo "FAIL [$CURRENT_CASE] $1"
    shift
    for line in "$@"; do echo "    $line"; done
}

expect_eq() { # WHAT EXPECTED ACTUAL
    if [ "$2" == "$3" ]; then
        PASSED=$((PASSED + 1))
    else
        fail_ "$1" "expected: $(printf %q "$2")" "actual:   $(printf %q "$3")"
    fi
}

expect_contains() { # WHAT HAYSTACK NEEDLE
    if [[ "$2" == *"$3"* ]]; then
        PASSED=$((PASSED + 1))
    else
        fail_ "$1" "missing:  $(printf %q "$3")" "in:       $(printf %q "$2")"
    fi
}

expect_not_contains() { # WHAT HAYSTACK NEEDLE
    if [[ "$2" != *"$3"* ]]; then
        PASSED=$((PASSED + 1))
    else
        fail_ "$1" "unexpected: $(printf %q "$3")" "in:         $(printf %q "$2")"
    fi
}

# A fresh host directory, writable from inside the sandbox, that collects results.
# It lies outside /tmp so that it never shows in the sandbox's own /tmp.
RESULT_DIRS=()
new_results() {
    OUT=$(mktemp -d "$BUILD_DIR/e2e-results.XXXXXX")
    chmod 0777 "$OUT"
    RESULT_DIRS+=("$OUT")
    export OUT
}
trap 'rm -rf ${RESULT_DIRS[@]+"${RESULT_DIRS[@]}"}' EXIT

# Sets the variable NAME to the exact bytes of result file FILE (line breaks kept).
read_result() { # NAME FILE
    local text=""
    [ -e "$OUT/$2" ] && text=$(cat "$OUT/$2"; printf x)
    printf -v "$1" '%s' "${text%x}"
}

expect_result() { # WHAT EXPECTED FILE
    local actual
    read_result actual "$3"
    expect_eq "$1" "$2" "$actual"
}

sandboxed() { # SANDBOX-OPTIONS... -- COMMAND...
    local coverage=()
    # In a coverage build an unprivileged run cannot write the counters beside
    # the root-owned objects (and would say so in its output): they go to its
    # private /tmp and are dropped.
    if [ "${SANDBOX_BUILD_ACCESS:-}" = --bind ] && [[ " $* " == *" --user "* ]]; then
        coverage=(GCOV_PREFIX=/tmp/discarded-coverage)
    fi
    env ${coverage[@]+"${coverage[@]}"} "$SANDBOX" "${SANDBOX_BUILD_ACCESS:---ro}" "$BUILD_DIR" --ro "$SOURCE_DIR" --bind "$OUT" "$@"
}

# A --setup script: the post-install script's copy takes 2 s (and touches
# /tmp/in-postinst first), long enough to interrupt it or try dpkg's locks.
SLOW_POSTINST='mv /usr/bin/cp /usr/bin/cp.real
printf "#!/bin/sh\n[ -z \"\$DPKG_MAINTSCRIPT_NAME\" ] || { touch /tmp/in-postinst; sleep 2; }\nexec /usr/bin/cp.real \"\$@\"\n" >/usr/bin/cp
chmod 755 /usr/bin/cp'

finish() {
    echo "$PASSED passed, $FAILED failed"
    [ "$FAILED" -eq 0 ]
}
