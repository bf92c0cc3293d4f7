#!/usr/bin/env bash
# The whole product in one command: the reference main client serves a sample cloud, a Nimbrel
# server projects it into a folder as placeholders, and every program that reads a file there
# downloads it. With --check the same tour runs unattended and the exit code says whether every
# step behaved.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)

usage() {
  cat <<'EOF'
usage: scripts/demo.sh [--cloud DIR] [--mount PATH] [--mode 0|1] [--build DIR] [--state DIR] [--check]

  --cloud DIR   serve DIR as the cloud (default: a sample cloud made in the state folder)
  --mount PATH  the folder the cloud appears in (default ~/NimbrelDemo; refused unless it is
                missing or empty)
  --mode 0|1    the server: 0 the mounted cloud space (ZedoziZevoro, default), 1 the sync
                disk (RoziDavidoVodido)
  --build DIR   the build folder whose bin/ is used (default build-release, built when missing;
                also NIMBREL_DEMO_BUILD)
  --state DIR   the demo's private folder: its application folder, platform home, runtime
                folder and logs (default BUILD/demo; emptied at start)
  --check       run the tour unattended with a smaller sample; exit 0 only if every step behaved
  -h, --help    this text

Ctrl-C ends the demo: it unmounts, unregisters, stops every process it started and removes its
sockets and the files it put in the mount folder.
EOF
}

cloud=""
mount=""
mode=0
build="${NIMBREL_DEMO_BUILD:-}"
state=""
check=0
while [ $# -gt 0 ]; do
  case "$1" in
    -h | --help) usage; exit 0 ;;
    --cloud | --mount | --mode | --build | --state)
      [ $# -ge 2 ] || { echo "demo.sh: $1 needs a value (see --help)" >&2; exit 2; }
      case "$1" in
        --cloud) cloud=$2 ;; --mount) mount=$2 ;; --mode) mode=$2 ;; --build) build=$2 ;; --state) state=$2 ;;
      esac
      shift 2 ;;
    --check) check=1; shift ;;
    *) echo "demo.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done
case "$mode" in
  0) server=ZedoziZevoro ;;
  1) server=RoziDavidoVodido ;;
  *) echo "demo.sh: --mode must be 0 or 1" >&2; exit 2 ;;
esac

say() { if [ -t 1 ]; then printf '\033[1m%s\033[0m\n' "$*"; else printf '%s\n' "$*"; fi; }
fail() { echo "demo.sh: $*" >&2; exit 1; }

# --- the build ------------------------------------------------------------------------------
tools=(nimbrel-mainclient nimbrel-cf nimbrel-menu nimbrel-shell nimbrel-reg nimbrel-cfd "$server")
targets=(nimbrel ipcmodule "${tools[@]}")
if [ -z "$build" ]; then
  build="$repo/build-release"
  say "Building what is missing (release build into build-release/)..."
  bash "$repo/scripts/build.sh" release "${targets[@]}"
fi
build=$(cd "$build" && pwd)
for tool in "${tools[@]}" libnimbrel.so libipcmodule.so; do
  [ -e "$build/bin/$tool" ] || fail "$build/bin/$tool is missing; build it first (scripts/build.sh)"
done

# --- private state ------------------------------------------------------------------------------
[ -n "$state" ] || state="$build/demo"
mkdir -p "$state"
state=$(cd "$state" && pwd)
exec 9>"$state.lock"
flock -n 9 || fail "another demo runs with the state folder $state"
# Emptied at start, so only a folder the demo made (it carries a marker) or an empty one is taken.
[ -e "$state/.nimbrel-demo" ] || [ -z "$(ls -A "$state")" ] ||
  fail "$state is not empty and is not a demo state folder; choose another with --state DIR"
find "$state" -mindepth 1 -delete
chmod 0700 "$state"
touch "$state/.nimbrel-demo"
mkdir -m 0700 "$state/home" "$state/run" "$state/app"
# The servers keep their configuration and logs beside their executable, so the demo runs its
# own copy of the application folder (hard links when the file system allows).
app="$state/app"
for file in "$build"/bin/*; do
  [ -f "$file" ] || continue
  ln "$file" "$app/" 2>/dev/null || cp "$file" "$app/"
done
export NIMBREL_PLATFORM_HOME="$state/home" NIMBREL_RUNTIME_DIR="$state/run"
# The filter service ends with this script, however it ends.
export NIMBREL_CFD_OWNER=$$

if [ -z "$cloud" ]; then
  cloud="$state/cloud"
  big_mib=200
  [ "$check" -eq 0 ] || big_mib=20
  say "Making a sample cloud in $cloud..."
  bash "$repo/scripts/demo/sample-cloud.sh" "$cloud" "$big_mib"
fi
[ -d "$cloud" ] || fail "$cloud is not a folder"
cloud=$(cd "$cloud" && pwd)

[ -n "$mount" ] || mount="$HOME/NimbrelDemo"
if [ -e "$mount" ]; then
  [ -d "$mount" ] || fail "$mount exists and is not a folder"
  [ -z "$(ls -A "$mount")" ] || fail "$mount exists and is not empty; choose another with --mount PATH"
  made_mount=0
else
  mkdir -p "$mount"
  made_mount=1
fi
mount=$(cd "$mount" && pwd)

# --- stopping everything, whatever happened ---------------------------------------------------
client_pid=""
server_pid=""
follower_pid=""
mounted=0
source "$repo/scripts/lib/processes.sh"

cleanup() {
  local status=$?
  trap - EXIT INT TERM
  set +e
  echo
  say "Stopping the demo..."
  if [ "$mounted" -eq 1 ] && [ -n "$server_pid" ] && ! stopped "$server_pid"; then
    timeout 60 "$app/nimbrel-mainclient" --mode "$mode" unmount "$mount" >/dev/null 2>&1 ||
      echo "demo.sh: the server did not unmount $mount; stopping it anyway" >&2
  fi
  stop_pid "$client_pid"
  stop_pid "$server_pid"
  stop_pid "$follower_pid"
  for pid in $(filter_service_pids "$state"); do stop_pid "$pid"; done
  if is_mounted "$mount"; then fusermount3 -u "$mount" 2>/dev/null || fusermount3 -uz "$mount" 2>/dev/null; fi
  # Everything in the mount folder was put there by the demo: it was missing or empty.
  if ! is_mounted "$mount"; then
    if [ "$made_mount" -eq 1 ]; then rm -rf "$mount"; else find "$mount" -mindepth 1 -delete; fi
  fi
  rm -rf "$state/run"
  local left=()
  is_mounted "$mount" && left+=("a mount on $mount")
  for pid in "$client_pid" "$server_pid" $(filter_service_pids "$state"); do
    [ -n "$pid" ] && ! stopped "$pid" && left+=("process $pid")
  done
  if [ ${#left[@]} -eq 0 ]; then
    say "Stopped: no mount, socket or process of the demo is left. Logs: $app/log/$server/"
  else
    echo "demo.sh: left behind: ${left[*]}" >&2
    [ "$status" -ne 0 ] || status=1
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit $((check ? 130 : 0))' INT
trap 'exit 143' TERM

# --- start ------------------------------------------------------------------------------------
client_log="$state/client.log"
# Each in a session of its own, so that Ctrl-C reaches only this script, which stops them in order.
setsid "$app/nimbrel-mainclient" --mode "$mode" serve --cloud "$cloud" --mount "$mount" >"$client_log" 2>&1 &
client_pid=$!
client_says() { grep -q "^$1" "$client_log"; }
# wait_for WHAT SECONDS COMMAND...: waits until COMMAND succeeds, failing when a process ended.
wait_for() {
  local what=$1 limit=$2 waited=0
  shift 2
  until "$@"; do
    stopped "$client_pid" && fail "the main client ended; see $client_log"
    [ -n "$server_pid" ] && stopped "$server_pid" && fail "the server ended; see $state/server.out"
    [ $waited -lt $((limit * 10)) ] || fail "$what did not happen within $limit s; see $client_log"
    sleep 0.1
    waited=$((waited + 1))
  done
}
wait_for "the main client's start" 30 client_says "serving mode"
setsid "$app/$server" >"$state/server.out" 2>&1 &
server_pid=$!
mounted=1
say "Started the main client (pid $client_pid) and $server (pid $server_pid); projecting $cloud into $mount..."
wait_for "the projection" 300 client_says "pushed "
grep '^pushed ' "$client_log"
# The server names its log after its process (a link to the dated file, which tail -F could only poll).
server_log=$(readlink -f "$app/log/$server/$server-$server_pid.log")

printf 'export NIMBREL_PLATFORM_HOME=%q NIMBREL_RUNTIME_DIR=%q PATH=%q:"$PATH"\n' \
  "$state/home" "$state/run" "$app" >"$state/env.sh"

source "$repo/scripts/demo/tour.sh"
if [ "$check" -eq 1 ]; then
  set +e
  tour_check
  exit $?
fi

echo
say "The cloud is in $(qpath "$mount"). In a second terminal, try:"
echo
tour_print
echo
say "What the server does (Ctrl-C here stops the demo):"
tail -n +1 -F "$server_log" 2>/dev/null > >(gawk -v root="$mount/" -f "$repo/scripts/demo/log-summary.awk") &
follower_pid=$!
while ! stopped "$client_pid" && ! stopped "$server_pid"; do sleep 0.5; done
fail "the $(stopped "$client_pid" && echo main client || echo server) ended by itself; see $state"
