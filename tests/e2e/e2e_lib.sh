# Shared by the end-to-end scripts: a work folder with a Wine prefix and an output folder,
# the simulator on COM5, the station run headless with a report, and checks on the report.
# The caller sets hydrix, sim and case first.
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
    if [[ -n ${device:-} ]]; then
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
        [[ -z ${device:-} ]] && kill -0 "$sim_pid" 2>/dev/null || break
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

# wait_until SECONDS COMMAND...: true once COMMAND succeeds, false at the deadline.
wait_until() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.02
    done
}

# What the instrument received, as one line with \r spelled out.
received() { grep -a '^adcp-sim <- ' "$work/sim.err" | sed 's/^adcp-sim <- //' | tr -d '\n'; }
closing_text_arrived() { [[ $(received) == *'========\r========\r' ]]; }

# The station in the background: its PID in station_pid; finish_station waits for it.
start_station() {
    "$hydrix" --headless --report "$report" "$@" 2> "$work/stderr" &
    station_pid=$!
}
finish_station() {
    wait "$station_pid"
    status=$?
}

# Every signal that cancels a run is caught by the process.
handlers_in_place() {
    local caught
    caught=$(awk '/^SigCgt:/ {print $2}' "/proc/$1/status" 2>/dev/null) || return 1
    [[ -n $caught ]] || return 1
    # SIGHUP 1, SIGINT 2, SIGQUIT 3, SIGTERM 15
    (( (0x$caught & 0x4007) == 0x4007 ))
}
