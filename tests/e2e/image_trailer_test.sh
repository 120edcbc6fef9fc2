#!/bin/bash
# The integrity trailer: verified by the build tool, ignored by the launcher.
source "$(dirname "$0")/lib.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

case_ "the built image verifies"
out=$("$IMAGE_TRAILER" verify "$HMAC_KEY_FILE" "$IMAGE"); status=$?
expect_eq "status" 0 "$status"
expect_contains "OK line" "$out" "OK $IMAGE: HMAC-SHA1 "

case_ "the frame is the last 80 bytes"
trailer=$(tail -c 80 "$IMAGE")
expect_eq "begin marker" "======HMAC_BEG=====[" "${trailer:0:20}"
expect_eq "end marker" "]=====HAMC_END======" "${trailer:60:20}"
[[ "${trailer:20:40}" =~ ^[0-9a-f]{40}$ ]]; expect_eq "40 lowercase hex digits" 0 $?

case_ "a changed byte anywhere is found"
cp "$IMAGE" "$work/body"
printf 'X' | dd of="$work/body" bs=1 seek=1000 conv=notrunc 2>/dev/null
out=$("$IMAGE_TRAILER" verify "$HMAC_KEY_FILE" "$work/body"); status=$?
expect_eq "status" 1 "$status"
expect_contains "says what is wrong" "$out" "does not match"

printf 'wrong key' >"$work/key"
"$IMAGE_TRAILER" verify "$work/key" "$IMAGE" >/dev/null
expect_eq "another key does not verify" 1 $?

head -c -80 "$IMAGE" >"$work/bare"
out=$("$IMAGE_TRAILER" verify "$HMAC_KEY_FILE" "$work/bare"); status=$?
expect_eq "status without trailer" 1 "$status"
expect_contains "says the trailer is missing" "$out" "no integrity trailer"

case_ "the tool's own failures"
"$IMAGE_TRAILER" sign "$work/no-such-key" "$IMAGE" "$work/signed" 2>/dev/null
expect_eq "a missing key file fails" 2 $?
[ -e "$work/signed" ]; expect_eq "and writes no image" 1 $?
"$IMAGE_TRAILER" sign "$HMAC_KEY_FILE" "$work/no-such-image" "$work/signed" 2>/dev/null
expect_eq "a missing input fails" 2 $?
printf 'short' >"$work/short"
out=$("$IMAGE_TRAILER" verify "$HMAC_KEY_FILE" "$work/short"); status=$?
expect_eq "a file shorter than a trailer fails" 1 "$status"
expect_contains "and says so" "$out" "shorter than the 80-byte trailer"
"$IMAGE_TRAILER" frobnicate 2>/dev/null
expect_eq "an unknown command fails" 2 $?
expect_contains "--help explains both commands" "$("$IMAGE_TRAILER" --help)" "image-trailer verify KEY_FILE IMAGE"
"$IMAGE_TRAILER" sign "$HMAC_KEY_FILE" "$work/bare" "$work/resigned"
"$IMAGE_TRAILER" verify "$HMAC_KEY_FILE" "$work/resigned" >/dev/null
expect_eq "signing the bare launcher again verifies" 0 $?

case_ "the launcher ignores the trailer"
cp "$IMAGE" "$work/tampered"
size=$(stat -c %s "$work/tampered")
printf '0000000000' | dd of="$work/tampered" bs=1 seek=$((size - 60)) conv=notrunc 2>/dev/null
expected=$(cd "$work" && "$IMAGE" help 2>&1; echo "status $?")
actual=$(cd "$work" && "$work/tampered" help 2>&1; echo "status $?")
expect_eq "help output unchanged" "${expected//$IMAGE/X}" "${actual//$work\/tampered/X}"
(cd "$work" && "$work/tampered" extract copy.deb >/dev/null)
cmp -s "$work/copy.deb" "$NATIVE_PACKAGE"; expect_eq "extracts the same package" 0 $?

finish
