#!/usr/bin/env bash
# Runs the station against the simulated instrument: installs what the two programs need
# when it is missing, builds only them (build/station), makes a throw-away Wine-style
# prefix whose host settings name the simulator's port, runs one test (in the window when
# there is a display, else headless) and says where the capture file and the JSON report
# went.
# Usage: scripts/run-station.sh [adcp-sim options, e.g. --fail 2]
# HYDRIX_HEADLESS=1 forces the headless run. Instead of setting up and building,
# HYDRIX_BUILD_DIR=DIR uses the programs of an existing build there, and HYDRIX_BIN_DIR=DIR
# the installed ones in DIR (such as /usr/bin).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
com=5

if [[ -n ${HYDRIX_BIN_DIR:-} ]]; then
    hydrix=$HYDRIX_BIN_DIR/hydrix
    sim=$HYDRIX_BIN_DIR/adcp-sim
else
    if [[ -n ${HYDRIX_BUILD_DIR:-} ]]; then
        build=$(cd "$HYDRIX_BUILD_DIR" && pwd)
    else
        "$root/scripts/setup.sh" --station
        "$root/scripts/build.sh" station
        build=$root/build/station
    fi
    hydrix=$build/src/gui/hydrix
    sim=$build/src/sim/adcp-sim
fi
for program in "$hydrix" "$sim"; do
    [[ -x $program ]] || { echo "run-station: $program is missing" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/hydrix-run-XXXXXX")
export WINEPREFIX=$work/prefix
out=$work/out
report=$work/report.json
mkdir -p "$WINEPREFIX/dosdevices" "$out"
{
    printf 'WINE REGISTRY Version 2\n\n'
    printf '[Software\\\\Velmar Sensors\\\\Tidewise\\\\Settings] %s\n' "$(date +%s)"
    printf '"ADCP COM Port"="COM%s"\n"ADCP Baud Rate"="115200"\n' "$com"
    printf '"Use Software Break"="1"\n"Current Filename Prefix"="ADCP"\n'
    printf '"Current Output Directory"="%s"\n' "$out"
} > "$WINEPREFIX/user.reg"

"$sim" --link-com "$com" "$@" > "$work/sim.out" 2> "$work/sim.err" &
sim_pid=$!
stop_sim() {
    if kill -0 "$sim_pid" 2>/dev/null; then
        kill "$sim_pid" 2>/dev/null || true
    fi
    wait "$sim_pid" 2>/dev/null || true
}
trap stop_sim EXIT

for _ in $(seq 100); do
    [[ -L $WINEPREFIX/dosdevices/com$com ]] && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.05
done
if [[ ! -L $WINEPREFIX/dosdevices/com$com ]]; then
    echo "run-station: the simulator did not come up:" >&2
    cat "$work/sim.err" >&2
    exit 2
fi

mode=()
if [[ -n ${HYDRIX_HEADLESS:-} || ( -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ) ]]; then
    mode=(--headless)
fi
echo "run-station: simulator on $(cat "$work/sim.out") as COM$com; station ${mode[*]:-in its window}"
status=0
"$hydrix" "${mode[@]}" --report "$report" || status=$?
stop_sim

captures=("$out"/*.txt)
if [[ -e ${captures[0]} ]]; then
    echo "run-station: capture file: ${captures[*]}"
else
    echo "run-station: no capture file was written (in $out)"
fi
if [[ -f $report ]]; then
    echo "run-station: report:       $report"
else
    echo "run-station: no report was written"
fi
echo "run-station: station exit status $status (prefix and files kept in $work)"
exit "$status"
