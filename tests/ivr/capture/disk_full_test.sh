#!/usr/bin/env bash
# A recording on a disk that fills: runs ivr_capture_disk_full.exe with a file size limit
# of 64 KiB, so that a write past it reaches the file only up to the limit and every later
# one fails (ERROR_DISK_FULL's stand-in on this machine, where no small disk can be made).
#   disk_full_test.sh PATH/ivr_capture_disk_full.exe      (run by CTest)
source "$(dirname "$0")/../../lib/systest-lib.sh"
program=$1
use_work "$BUILD_DIR/tests/ivr/capture/disk-full"

# The wine server must be running before the limit is set: a server started under it
# could not save the prefix's registry.
"$WINE_RUN" --start

# The limit in 1024-byte blocks; the signal a write past it raises is ignored, so that
# the write just fails.
STATUS=0
(
    trap '' XFSZ
    ulimit -f 64
    ORVIN_FILE_LIMIT=65536 exec timeout 90 "$WINE_RUN" "$program"
) >"$WORK/disk-full.out" 2>"$WORK/disk-full.err" || STATUS=$?
tr -d '\r' <"$WORK/disk-full.out"
[ "$STATUS" = 0 ] || fail "the test program exited with $STATUS"
# Every case ran: none skipped for want of the limit.
expect_line disk-full.out "[  PASSED  ] 3 tests."
expect_no_text disk-full.out "SKIPPED"
echo "disk-full checks passed"
