#!/usr/bin/env bash
# One end-to-end case of the station: station_e2e.sh HYDRIX ADCP_SIM CASE
# The simulator links $WINEPREFIX/dosdevices/com5 to its pty; user.reg names COM5.
set -u
hydrix=$1
sim=$2
case=$3

work=$(mktemp -d "${TMPDIR:-/tmp}/hydrix-e2e-XXXXXX")
sim_pid=
cleanup() {
    if [[ -n $sim_pid ]] && kill -0 "$sim_pid" 2>/dev/null; then kill "$sim_pid"; wait "$sim_pid"; fi
    rm -rf "$work"
}
trap cleanup EXIT

export WINEPREFIX=$work/prefix
mkdir -p "$WINEPREFIX/dosdevices" "$work/out"
out=$work/out
report=$work/report.json
clock=07/12/31,23:59:58.99
capture=$out/1234.071231235958.99.txt

fail() {
    echo "FAIL [$case]: $*" >&2
    [[ -f $work/stderr ]] && { echo "--- hydrix stderr" >&2; cat "$work/stderr" >&2; }
    [[ -f $report ]] && { echo "--- report" >&2; cat "$report" >&2; }
    exit 1
}

# write_reg [port-line] [output-directory]
write_reg() {
    local port=${1-'"ADCP COM Port"="COM5"'} dir=${2-$out}
    {
        printf 'WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n'
        printf '[Software\\\\Velmar Sensors\\\\Tidewise\\\\Settings] 1700000000\n'
        [[ -n $port ]] && printf '%s\n' "$port"
        printf '"ADCP Baud Rate"="115200"\n"Use Software Break"="1"\n"Current Filename Prefix"="ADCP"\n'
        printf '"Current Output Directory"="%s"\n' "$dir"
    } > "$WINEPREFIX/user.reg"
}

start_sim() {
    "$sim" --verbose --link-com 5 --record "$work/record" --clock "$clock" --pc2-records 5 --pc2-interval-ms 20 "$@" \
        > "$work/sim.out" 2> "$work/sim.err" &
    sim_pid=$!
    for _ in $(seq 100); do
        [[ -L $WINEPREFIX/dosdevices/com5 ]] && return 0
        sleep 0.05
    done
    fail "the simulator did not come up: $(cat "$work/sim.err")"
}

# The simulator ends when the station hangs up; its record is complete then.
stop_sim() {
    for _ in $(seq 100); do
        kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.05
    done
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
    sim_pid=
}

run_station() {
    "$hydrix" --headless --report "$report" 2> "$work/stderr"
    status=$?
}

expect_status() { [[ $status -eq $1 ]] || fail "exit status $status, expected $1"; }
# expect_json JQ-EXPRESSION EXPECTED-JSON
expect_json() {
    local got
    got=$(jq -c "$1" "$report") || fail "report is not JSON"
    [[ $got == "$2" ]] || fail "$1 is $got, expected $2"
}

# The capture holds exactly what the instrument sent after the prompt that started it
# (the 4th) up to the final prompt (the 12th), neither prompt included.
check_capture() {
    mapfile -t prompts < <(grep -abo '>' "$work/record" | cut -d: -f1)
    (( ${#prompts[@]} >= 12 )) || fail "only ${#prompts[@]} prompts recorded"
    local start=${prompts[3]} end=${prompts[11]}
    tail -c +$((start + 2)) "$work/record" | head -c $((end - start - 1)) > "$work/expected"
    cmp -s "$capture" "$work/expected" ||
        fail "capture differs from the record ($(stat -c %s "$capture") vs $(stat -c %s "$work/expected") bytes)"
}

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
