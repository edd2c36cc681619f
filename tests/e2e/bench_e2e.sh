#!/usr/bin/env bash
# One case of the station on a hostile bench: bench_e2e.sh HYDRIX ADCP_SIM CASE
# Firmware variants, a record that must not be destroyed, a disk that fills or goes,
# reports that cannot be written, signals, and instruments that go quiet. Each ends in
# one exit status and a report that says why.
set -u
hydrix=$1
sim=$2
case=$3
source "$(dirname "$0")/e2e_lib.sh"

incomplete_run() {
    write_reg
    start_sim "$@"
    run_station
    stop_sim
    expect_status 7
    expect_json .outcome '"incomplete"'
    expect_json '.messages | length' 1
    expect_json '.messages[0] | startswith("Test incomplete: the station cannot vouch for this result.\r")' true
    closing_text_arrived || fail "the closing text did not arrive"
}

# The capture the report names is a regular file holding what the title names.
expect_capture_named_alike() {
    local named
    named=$(jq -r .capture_file "$report")
    [[ -f $named && ! -L $named ]] || fail "the report names $named, which is not a file"
    expect_json .title "\"HYDRIX 1.01 [Finished Test] Saved As $named\""
}

case $case in
clock-without-dash)
    # The clock report ends at the first "-" that follows, in the PS3 listing's matrix: the
    # stretch it swallowed held no report, and the FAIL after it counts.
    write_reg
    start_sim --variant clock-without-dash --fail 1
    run_station
    stop_sim
    expect_status 1
    expect_json .outcome '"finished"'
    expect_json .fail 1
    expect_json '.datetime | startswith("07/12/31,23:59:58.99     Time Stamp")' true
    ;;
frequency-six-blanks)
    incomplete_run --variant frequency-six-blanks --fail 1
    expect_json .fail 0
    expect_json .serial '"unknown"'
    expect_json '.messages[0] | contains("The serial number report came as \"Instrument S/N:\" without its \"Frequency:\"")' true
    ;;
double-prompt)
    incomplete_run --variant double-prompt
    expect_json .pass 0
    expect_json '.messages[0] | endswith("\rNo PASS or FAIL report was counted before the test sequence ended.")' true
    ;;
serial-changes)
    write_reg
    start_sim --variant serial-changes
    run_station
    stop_sim
    expect_status 0
    expect_json .serial '"1234B"'
    expect_json .capture_file "\"$capture\""
    expect_capture_named_alike
    ;;
same-name)
    # No clock report: every run of this instrument is named 1234..txt.
    for run in 1 2; do
        write_reg
        start_sim --no-clock --fail 1
        run_station
        stop_sim
        expect_status 1
        [[ $run == 1 ]] && cp "$out/1234..txt" "$work/first"
    done
    expect_json .capture_file "\"$out/1234.-2.txt\""
    cmp -s "$out/1234..txt" "$work/first" || fail "the first run's capture changed"
    expect_capture_named_alike
    ;;
planted)
    echo "precious" > "$work/precious"
    ln -s "$work/precious" "$capture"
    mkfifo "${capture%.txt}-2.txt"
    write_reg
    start_sim
    run_station
    stop_sim
    expect_status 0
    [[ $(cat "$work/precious") == precious ]] || fail "the link's target was written"
    [[ -p ${capture%.txt}-2.txt ]] || fail "the FIFO was replaced"
    expect_json .capture_file "\"${capture%.txt}-3.txt\""
    expect_capture_named_alike
    ;;
serial-not-utf8)
    write_reg
    start_sim --serial $'\xff\xfe12'
    run_station
    stop_sim
    expect_status 0
    expect_capture_named_alike
    ;;
folder-removed)
    write_reg
    start_sim --delay-ms 100
    start_station
    wait_until 20 grep -aq 'PS3' "$work/record" || fail "the run did not get to PS3"
    rm -rf "$out"
    finish_station
    stop_sim
    expect_status 7
    expect_json .capture_complete false
    expect_json '.title | startswith("HYDRIX 1.01 [Finished Test] Capture incomplete: ")' true
    expect_json '.messages[0] | contains("is no longer on the disk")' true
    ;;
full-disk)
    mkdir -p "$work/small"
    mount -t tmpfs -o size=64k tmpfs "$work/small" 2>/dev/null || { echo "skip [$case]: cannot mount a tmpfs"; exit 77; }
    trap 'umount "$work/small" 2>/dev/null; cleanup' EXIT
    write_reg '"ADCP COM Port"="COM5"' "$work/small"
    start_sim --pc2-records 4000 --pc2-interval-ms 0
    run_station
    stop_sim
    expect_status 7
    expect_json .capture_complete false
    expect_json '.messages | map(select(contains("(the disk may be full)"))) | length' 1
    ;;
capture-not-created)
    # Every name the capture could take is taken by a folder: step 3 fails.
    mkdir "$capture"
    for n in $(seq 2 1000); do mkdir "${capture%.txt}-$n.txt"; done
    write_reg
    start_sim
    run_station
    stop_sim
    expect_status 6
    expect_json .outcome '"error"'
    closing_text_arrived || fail "the closing text did not arrive after the failed step"
    ;;
report-folder-missing)
    write_reg
    start_sim
    "$hydrix" --headless --report "$work/missing/report.json" 2> "$work/stderr"
    status=$?
    expect_status 3
    grep -q "cannot write the report $work/missing/report.json: No such file or directory" "$work/stderr" ||
        fail "the report's problem was not named: $(cat "$work/stderr")"
    [[ ! -s $work/record ]] || fail "the port was touched"
    ;;
report-twice)
    "$hydrix" --headless --report "$work/a.json" --report "$report" 2> "$work/stderr"
    status=$?
    expect_status 6
    grep -q -- '--report is given more than once' "$work/stderr" || fail "not refused: $(cat "$work/stderr")"
    [[ ! -e $work/a.json && ! -e $report ]] || fail "a report was written"
    ;;
killed)
    # An earlier run's report never stands in for this run's.
    echo '{"outcome": "finished"}' > "$report"
    write_reg
    start_sim --silent-after PT200
    start_station
    wait_until 20 grep -aq 'PT200' "$work/record" || fail "the run did not get to PT200"
    kill -KILL "$station_pid"
    finish_station
    stop_sim
    [[ ! -e $report ]] || fail "the earlier report is still there"
    ;;
hangup)
    for signal in HUP QUIT INT; do
        write_reg
        start_sim --silent-after PT200
        start_station
        wait_until 20 grep -aq 'PT200' "$work/record" || fail "the run did not get to PT200 ($signal)"
        kill "-$signal" "$station_pid"
        finish_station
        stop_sim
        expect_status 5
        expect_json .outcome '"cancelled"'
        closing_text_arrived || fail "the closing text did not arrive ($signal)"
        ! grep -qs "$station_pid" /run/lock/LCK..* /var/lock/LCK..* || fail "a lock file was left ($signal)"
        : > "$work/sim.err"
    done
    ;;
signal-at-start)
    write_reg
    start_sim
    start_station
    wait_until 10 handlers_in_place "$station_pid" || fail "the signals are not caught"
    kill -TERM "$station_pid"
    finish_station
    stop_sim
    expect_status 5
    expect_json .outcome '"cancelled"'
    ;;
window-message-box)
    # No settings: the window shows its message box and waits for an OK nobody gives.
    write_reg ''
    QT_QPA_PLATFORM=offscreen "$hydrix" --report "$report" 2> "$work/stderr" &
    station_pid=$!
    wait_until 10 handlers_in_place "$station_pid" || fail "the signals are not caught"
    kill -TERM "$station_pid"
    finish_station
    expect_status 3
    expect_json .outcome '"configuration-error"'
    expect_json '.messages[0] | startswith("Error... Tidewise 10.04 or greater required!")' true
    ;;
deadline)
    write_reg
    start_sim --silent-after PC2
    start=$SECONDS
    "$hydrix" --headless --deadline 3 --report "$report" 2> "$work/stderr"
    status=$?
    stop_sim
    expect_status 2
    expect_json .outcome '"communications-error"'
    expect_json .messages '["Communications Error.\rCheck Tidewise Communications Settings!\rThe test did not end within 3 s."]'
    ((SECONDS - start < 20)) || fail "took $((SECONDS - start)) s"
    closing_text_arrived || fail "the closing text did not arrive"
    ;;
stopped)
    # The station is stopped (a suspended laptop) right after it sends CR1; the answer
    # and its prompt arrive meanwhile, and the watchdog's 2 s run out before it resumes.
    write_reg
    start_sim --delay-ms 300
    start_station
    wait_until 20 grep -q 'adcp-sim <- CR1' "$work/sim.err" || fail "CR1 did not come"
    kill -STOP "$station_pid"
    wait_until 10 grep -aq 'FACTORY' "$work/record" || fail "the instrument did not answer"
    # Stopped is all the station can be meanwhile: the time itself is the condition.
    sleep 2.5
    kill -CONT "$station_pid"
    finish_station
    stop_sim
    expect_status 0
    expect_json .messages '[]'
    ;;
*)
    fail "unknown case"
    ;;
esac
echo "ok [$case]"
