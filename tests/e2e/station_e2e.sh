#!/usr/bin/env bash
# One end-to-end case of the station: station_e2e.sh HYDRIX ADCP_SIM CASE
# The simulator links $WINEPREFIX/dosdevices/com5 to its pty; user.reg names COM5.
set -u
hydrix=$1
sim=$2
case=$3

source "$(dirname "$0")/e2e_lib.sh"

finished_run() {
    write_reg
    start_sim "$@"
    run_station
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
    local received
    received=$(grep -a '^adcp-sim <- ' "$work/sim.err" | sed 's/^adcp-sim <- //' | tr -d '\n')
    [[ $received == *'========\r========\r' ]] || fail "the closing text did not arrive: ...${received: -40}"
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
