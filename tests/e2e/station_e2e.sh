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
    local line=(--link-com 5)
    if [[ -n $device ]]; then
        ln -s "$device" "$WINEPREFIX/dosdevices/com5"
        line=(--device "$sim_device")
    fi
    "$sim" --verbose "${line[@]}" --record "$work/record" --clock "$clock" --pc2-records 5 --pc2-interval-ms 20 "$@" \
        > "$work/sim.out" 2> "$work/sim.err" &
    sim_pid=$!
    # The simulator names its line once it is ready for the station.
    for _ in $(seq 100); do
        [[ -s $work/sim.out ]] && return 0
        sleep 0.05
    done
    fail "the simulator did not come up: $(cat "$work/sim.err")"
}

# On a pty the simulator ends when the station hangs up (its record is complete then);
# a device gives it no hang-up to see.
stop_sim() {
    for _ in $(seq 100); do
        [[ -z $device ]] && kill -0 "$sim_pid" 2>/dev/null || break
        sleep 0.05
    done
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
    sim_pid=
}

# What the simulator received, its log lines joined.
received() {
    grep -a '^adcp-sim <- ' "$work/sim.err" | sed 's/^adcp-sim <- //' | tr -d '\n'
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
