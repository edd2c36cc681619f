#!/usr/bin/env bash
# Builds the Debian package of the station and the simulator with Debian's build flags
# (build/package/hydrix_<version>_<arch>.deb) and checks it: lintian, the desktop entry,
# the AppStream metainfo, and every option of both programs in their manual pages.
# With --install it then installs the package with apt-get, runs the installed station
# headless against the installed simulator in a temporary prefix (the run must pass) and
# removes the package again.
# Usage: scripts/package.sh [--install]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
install=false
case "${1:-}" in
  "") ;;
  --install) install=true ;;
  *) echo "package: unknown option $1" >&2; exit 2 ;;
esac
"$root/scripts/setup.sh" --package
build=$root/build/package

# Hardened as Debian builds its packages; no debugging information, since the package
# ships stripped programs and no debug symbols.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g
flags() { dpkg-buildflags --get "$1"; }
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=None -DHYDRIX_TESTS=OFF \
  -DCMAKE_CXX_FLAGS="$(flags CXXFLAGS) $(flags CPPFLAGS)" -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/*.deb)
deb=${debs[0]}
echo "package: $deb, $(stat -c %s "$deb") bytes"
dpkg-deb --field "$deb" Depends Recommends

echo "package: lintian"
lintian --display-info --fail-on error,warning "$deb"
echo "package: desktop-file-validate"
desktop-file-validate "$root/data/hydrix.desktop"
echo "package: appstreamcli"
tree=$(mktemp -d "${TMPDIR:-/tmp}/hydrix-deb-XXXXXX")
trap 'rm -rf "$tree"' EXIT
dpkg-deb --extract "$deb" "$tree"
appstreamcli validate --pedantic --no-net "$tree"/usr/share/metainfo/*.metainfo.xml
appstreamcli validate-tree --pedantic --no-net "$tree"

# The manual pages write a dash as "\-".
for program in gui/hydrix sim/adcp-sim; do
  page=$root/data/man/$(basename "$program").1
  text=$(sed 's/\\-/-/g' "$page")
  for option in $("$build/src/$program" --help | grep -oE -- '--[a-z][a-z0-9-]*' | sort -u); do
    grep -qwF -e "$option" <<<"$text" || { echo "package: $option is not in $page" >&2; exit 1; }
  done
done

if ! $install; then
  exit 0
fi
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
echo "package: apt-get install ./$(basename "$deb")"
(cd "$build" && DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "./$(basename "$deb")")
remove() { DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get purge -y -qq hydrix; rm -rf "$tree"; }
trap remove EXIT
HYDRIX_BIN_DIR=/usr/bin HYDRIX_HEADLESS=1 "$root/scripts/run-station.sh"
