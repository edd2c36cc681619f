#!/usr/bin/env bash
# One end-to-end case of the station: station_e2e.sh HYDRIX ADCP_SIM CASE
# The simulator links $WINEPREFIX/dosdevices/com5 to its pty; user.reg names COM5.
# Over a real line instead (the real-driver tier): HYDRIX_E2E_DEVICE is the station's
# device, linked as COM5, and HYDRIX_E2E_SIM_DEVICE the simulator's, wired to it. The
# unplug case also needs HYDRIX_E2E_UNPLUG, a command that pulls the station's adapter out
# and returns once the kernel has hung the line up, printing that moment as EPOCHREALTIME.
set -u
hydrix=$1
sim=$2
case=$3
device=${HYDRIX_E2E_DEVICE:-}
sim_device=${HYDRIX_E2E_SIM_DEVICE:-}

source "$(dirname "$0")/e2e_lib.sh"

finished_run() {
    write_reg
    start_sim "$@"
    run_station
    # Over a real line the closing text may still be on its way when the station is gone.
    for _ in $(seq 100); do
        [[ $(received) == *'========\r========\r' ]] && break
        sleep 0.05
    done
    stop_sim
    expect_json .outcome '"finished"'
    expect_json .serial '"1234"'
    expect_json .datetime "\"$clock\""
    expect_json .capture_file "\"$capture\""
    expect_json .capture_complete true
    expect_json .title "\"HYDRIX 1.01 [Finished Test] Saved As $capture\""
    expect_json .step 11
    expect_json .messages '[]'
    expect_json '.pass > 0' true
    # One result per counted report, in its own self-test line.
    expect_json '([.results[] | select(.outcome == "PASS")] | length) == .pass' true
    expect_json '([.results[] | select(.outcome == "FAIL")] | length) == .fail' true
    expect_json '[.results[] | .line | test("^  [A-Za-z0-9 /]+ Test \\.+ (PASS|FAIL)$")] | all' true
    expect_json '[.results[] | .outcome as $o | .line | endswith(" " + $o)] | all' true
    expect_json '.screen | length > 0' true
    check_capture
    # Close was pressed: the closing text reached the instrument twice before the hang-up.
    local got
    got=$(received)
    [[ $got == *'========\r========\r' ]] || fail "the closing text did not arrive: ...${got: -40}"
}

# sample PID: the process's CPU time so far, in clock ticks (user and system), into ticks;
# false once it has ended. No command is forked: the sampling must not load the machine.
sample() {
    local stat fields
    read -r stat 2> /dev/null < "/proc/$1/stat" || return 1
    stat=${stat##*) }
    read -r -a fields <<< "$stat"
    ticks=$((fields[11] + fields[12]))
}

# Milliseconds since start (a value of EPOCHREALTIME).
ms_since() {
    local now=${EPOCHREALTIME/./} then=${1/./}
    echo $(((now - then) / 1000))
}

# The adapter is pulled out while PC2 streams into the capture: the station ends by itself
# within a second as a communications error, with little CPU, the capture kept to the last
# byte it showed, and no lock file left. Prints the figures as "unplug: ..." lines.
unplug_run() {
    [[ -n $device && -n ${HYDRIX_E2E_UNPLUG:-} ]] || fail "needs HYDRIX_E2E_DEVICE and HYDRIX_E2E_UNPLUG"
    write_reg
    start_sim --pc2-records 1000000 --pc2-interval-ms 20
    "$hydrix" --headless --report "$report" 2> "$work/stderr" &
    local pid=$! records=0 ticks=0 nap
    for _ in $(seq 600); do
        records=$(grep -ac 'Down  ' "$capture" 2> /dev/null)
        ((${records:-0} >= 5)) && break
        sleep 0.05
    done
    ((${records:-0} >= 5)) || fail "PC2 never streamed into the capture"
    exec {nap}<> <(:)
    sample "$pid" || fail "the station ended before the adapter was pulled"
    sample "$pid" || fail "the station ended before the adapter was pulled"
    local pulled cpu_before=$ticks cpu_last
    pulled=$($HYDRIX_E2E_UNPLUG) || fail "the adapter could not be pulled"
    # From the hang-up on; a station already gone by now has used next to nothing since.
    sample "$pid" && cpu_before=$ticks
    cpu_last=$cpu_before
    # Sampled until the station is gone: its last sample is within one pause of its end.
    while sample "$pid"; do
        cpu_last=$ticks
        read -r -t 0.01 -u "$nap"
    done
    local ended_ms cpu_ms
    ended_ms=$(ms_since "$pulled")
    cpu_ms=$(((cpu_last - cpu_before) * 1000 / $(getconf CLK_TCK)))
    wait "$pid"
    status=$?
    stop_sim
    echo "unplug: the station ended ${ended_ms} ms after the line hung up, using ${cpu_ms} ms of CPU meanwhile;" \
        "exit status $status"
    expect_status 2
    expect_json .outcome '"communications-error"'
    ((ended_ms < 1000)) || fail "the station took ${ended_ms} ms to end"
    ((cpu_ms < 500)) || fail "the station used ${cpu_ms} ms of CPU after the unplug"
    # Every byte shown was captured: the capture is what the instrument sent from the start
    # of the capture on, and it ends with the last line on the screen.
    local start size last_row
    start=$(($(grep -abo '>' "$work/record" | sed -n 4p | cut -d: -f1) + 2))
    size=$(stat -c %s "$capture")
    tail -c +$start "$work/record" | head -c "$size" | cmp -s - "$capture" ||
        fail "the capture is not what the instrument sent"
    last_row=$(jq -r '.screen[-1]' "$report")
    [[ -n $last_row && $(tail -c $((${#last_row} + 2)) "$capture") == *"$last_row"* ]] ||
        fail "the capture does not end with the last line shown: '$last_row'"
    echo "unplug: the capture holds the $size bytes sent up to the last line shown"
    local name=${device##*/}
    for folder in /var/lock /run/lock; do
        [[ ! -e $folder/LCK..$name ]] || fail "lock file $folder/LCK..$name left behind"
    done
}

case $case in
pass)
    finished_run
    expect_status 0
    expect_json .fail 0
    ;;
fail)
    finished_run --fail 2
    expect_status 1
    expect_json .fail 2
    # The failed self-tests are named on standard error when the run ends.
    [[ $(grep -c '^FAIL:   .* Test \.* FAIL$' "$work/stderr") -eq 2 ]] || fail "FAIL lines: $(cat "$work/stderr")"
    ;;
byte-writes)
    finished_run --byte-writes
    expect_status 0
    ;;
watchdog)
    write_reg
    start_sim --silent-after PS3
    run_station
    stop_sim
    expect_status 2
    expect_json .outcome '"communications-error"'
    expect_json .messages '["Communications Error.\rCheck Tidewise Communications Settings!"]'
    expect_json .step 6
    grep -q 'Communications Error' "$work/stderr" || fail "message not on standard error"
    ;;
missing-directory)
    write_reg '"ADCP COM Port"="COM5"' "$work/missing"
    start_sim
    run_station
    stop_sim
    expect_status 3
    expect_json .outcome '"output-directory-missing"'
    expect_json .messages '["Output directory does not exist.\rCheck your Tidewise configuration!"]'
    expect_json .capture_file null
    [[ -z $(ls -A "$out") ]] || fail "files were written"
    ;;
missing-value)
    write_reg ''
    start_sim
    run_station
    expect_status 3
    expect_json .outcome '"configuration-error"'
    expect_json '.messages[0] | startswith("Error... Tidewise 10.04 or greater required!")' true
    [[ ! -s $work/record ]] || fail "the port was touched"
    ;;
sigterm)
    write_reg
    start_sim --silent-after PT200
    "$hydrix" --headless --report "$report" 2> "$work/stderr" &
    pid=$!
    for _ in $(seq 200); do
        grep -aq 'PT200' "$work/record" 2>/dev/null && break
        sleep 0.05
    done
    kill -TERM "$pid"
    wait "$pid"
    status=$?
    stop_sim
    expect_status 5
    expect_json .outcome '"cancelled"'
    expect_json .step 7
    expect_json '.capture_file != null' true
    ;;
check)
    write_reg
    start_sim --keep-open
    "$hydrix" --check > "$work/check" 2> "$work/stderr"
    status=$?
    expect_status 0
    grep -q '^A run can start\.$' "$work/check" || fail "check: $(cat "$work/check")"
    write_reg '"ADCP COM Port"="COM5"' "$work/missing"
    "$hydrix" --check > "$work/check" 2> "$work/stderr"
    status=$?
    expect_status 3
    grep -q "The output folder $work/missing/ does not exist" "$work/check" || fail "check: $(cat "$work/check")"
    [[ ! -s $work/record ]] || fail "the check sent something"
    ;;
unplug)
    unplug_run
    ;;
options)
    [[ $("$hydrix" --version) == "HYDRIX 1.01" ]] || fail "--version"
    "$hydrix" --help | grep -q -- '--headless' || fail "--help"
    "$hydrix" --no-such-option 2> /dev/null
    status=$?
    expect_status 6
    ;;
*)
    fail "unknown case"
    ;;
esac
echo "ok [$case]"
