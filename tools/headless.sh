# Sourced by the scripts that run Windows programs: a private headless X server and
# a Wine prefix of the project's own, both cleaned up on exit, and the small
# helpers they share (Windows paths, bounded waits).

# The prefix of Wine lane $1: lane0 keeps the project's prefix, the others have their own.
wine_lane_prefix() {
  if [ "$1" = lane0 ]; then
    echo "$orvanta_root/build/wineprefix"
  else
    echo "$orvanta_root/build/wineprefix-$1"
  fi
}

orvanta_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$orvanta_root/build/wineprefix}
# A test that ctest gave a Wine lane (CTEST_RESOURCE_GROUP_0_WINE_LANE is
# "id:<lane>,slots:1") runs in that lane's prefix, and on the X display that
# tools/test.sh started for it (ORVANTA_WINE_DISPLAY_<lane>), if any.
wine_lane=${CTEST_RESOURCE_GROUP_0_WINE_LANE:-}
wine_lane=${wine_lane#id:}
wine_lane=${wine_lane%%,*}
if [ -n "$wine_lane" ]; then
  WINEPREFIX=$(wine_lane_prefix "$wine_lane")
  lane_display=ORVANTA_WINE_DISPLAY_$wine_lane
  [ -z "${!lane_display:-}" ] || export DISPLAY=${!lane_display}
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
xvfb_pids=()

# Z: maps to / in every prefix Wine creates.
windows_path() {
  local path
  path=$(realpath -m "$1")
  printf 'Z:%s' "${path//\//\\}"
}

# Waits up to $1 seconds for the command in $2 to succeed.
wait_until() {
  local seconds=$1
  shift
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.05
  done
}

start_headless_display() {
  local fd_file
  fd_file=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fd_file" >/dev/null 2>&1 &
  xvfb_pids+=($!)
  for _ in $(seq 1 100); do
    [ -s "$fd_file" ] && break
    sleep 0.1
  done
  if [ ! -s "$fd_file" ]; then
    echo "the headless X server did not start" >&2
    rm -f "$fd_file"
    return 1
  fi
  export DISPLAY=":$(head -n1 "$fd_file")"
  rm -f "$fd_file"
}

# Ends the Wine session of the prefix and every X server started here.
stop_headless() {
  wineserver -k >/dev/null 2>&1 || true
  local pid
  for pid in "${xvfb_pids[@]}"; do
    kill "$pid" >/dev/null 2>&1 || true
    wait "$pid" 2>/dev/null || true
  done
  xvfb_pids=()
}

# Ends a run of the shipped program against the virtual unit: the process $1 (if
# given), the virtual unit's host and the Wine session, then the X server.
stop_program_and_unit() {
  if [ -n "${1:-}" ]; then
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
  fi
  "$orvanta_root/tools/virtual-unit" stop >/dev/null 2>&1 || true
  stop_headless
}

prepare_wine_prefix() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 || true
    # There is no window manager on the headless display: Wine draws the frames
    # and captions itself, as Windows would.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
  fi
}
