#!/usr/bin/env bash
# The real-driver tier inside the guest, in the host's tree: the com port's line settings
# read back from the 8250 driver (ttyS1, wired to ttyS2) and from ftdi_sio (ttyUSB0, wired
# to ttyS3), the station end to end on both, then the adapter pulled out mid-run.
# Usage: guest.sh WORK. Writes WORK/guest.log and one "PASS name" or "FAIL name" line per
# check to WORK/results; "hydrix-guest: pull the adapter" on the console asks the host to
# remove the USB adapter.
set -u
work=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cat "$work/build-dir")
hydrix=$build/src/gui/hydrix
sim=$build/src/sim/adcp-sim
log=$work/guest.log
results=$work/results
: > "$results"
export TMPDIR=/run/tmp HOME=/run/tmp

say() { echo "hydrix-guest: $*" > /dev/console; }

# check NAME COMMAND...: runs the command with its output in the log.
check() {
    local name=$1 start=$SECONDS
    shift
    echo "=== $name" >> "$log"
    if "$@" >> "$log" 2>&1; then
        echo "PASS $name ($((SECONDS - start)) s)" >> "$results"
    else
        echo "FAIL $name ($((SECONDS - start)) s)" >> "$results"
    fi
    say "$(tail -n 1 "$results")"
}

for tty in /dev/ttyS1 /dev/ttyS2 /dev/ttyS3 /dev/ttyUSB0; do
    for _ in $(seq 200); do
        [[ -e $tty ]] && break
        sleep 0.1
    done
    [[ -e $tty ]] || { echo "FAIL $tty is missing" >> "$results"; say "$tty is missing"; exit 1; }
done

line_checks() {
    HYDRIX_REAL_PORT=$1 HYDRIX_REAL_FAR=$2 HYDRIX_REAL_DATA_BITS=$3 "$build/tests/real_serial/real_serial_tests" "${@:4}"
}
station() {
    HYDRIX_E2E_DEVICE=$1 HYDRIX_E2E_SIM_DEVICE=$2 bash "$root/tests/e2e/station_e2e.sh" "$3" "$sim" "$4"
}

# The station under strace: how often it asks the driver for modem lines and counters.
counted=$work/counted-hydrix
cat > "$counted" <<COUNTED
#!/bin/bash
exec strace -f -qq --seccomp-bpf -e trace=ioctl -e signal=none -o "$work/ioctls" "$hydrix" "\$@"
COUNTED
chmod +x "$counted"
ioctl_counts() {
    local mget icount miwait inq
    mget=$(grep -c 'TIOCMGET' "$work/ioctls")
    icount=$(grep -c 'TIOCGICOUNT' "$work/ioctls")
    miwait=$(grep -c 'TIOCMIWAIT' "$work/ioctls")
    inq=$(grep -c 'FIONREAD' "$work/ioctls")
    echo "ioctls in one run on $1: TIOCMGET $mget, TIOCGICOUNT $icount, TIOCMIWAIT $miwait, FIONREAD $inq" |
        tee -a "$work/figures"
    # The driver's queue is looked at in every dispatcher cycle; the modem lines, which the
    # driver's own wait watches, at the open and in every 20th cycle only.
    ((mget <= 3 + inq / 20))
}
counted_station() {
    station "$1" "$2" "$counted" pass && ioctl_counts "$1"
}

unplug() {
    HYDRIX_E2E_UNPLUG="$build/tests/real_serial/real_serial_tests --pull-adapter /dev/ttyUSB0" \
        station /dev/ttyUSB0 /dev/ttyS3 "$hydrix" unplug
}

check "line settings on the UART (ttyS1)" line_checks /dev/ttyS1 /dev/ttyS2 5678
# QEMU's FTDI adapter passes output on at once (its driver queue never fills to drain) and
# has no loopback to change its modem lines with.
check "line settings on the USB adapter (ttyUSB0)" line_checks /dev/ttyUSB0 /dev/ttyS3 78 \
    --gtest_filter=-*Drains*:*ModemLineChange*
check "station on the UART (ttyS1)" counted_station /dev/ttyS1 /dev/ttyS2
check "station on the USB adapter (ttyUSB0)" counted_station /dev/ttyUSB0 /dev/ttyS3
check "adapter pulled out mid-run (ttyUSB0)" unplug
grep '^unplug:' "$log" >> "$work/figures"
