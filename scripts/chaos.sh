#!/usr/bin/env bash
# The kill-anywhere campaign: the reference main client serves a small cloud into a mounted folder
# that also holds files of the user's own; in each round a server is killed with SIGKILL at a random
# moment of one phase's work (projection, hydration, dehydration, keep/free, hard-link repair),
# started again, and the whole tree is checked: every file that claims to be hydrated has the
# cloud's bytes, no file of the user's is lost or changed, the stores open cleanly, no repair copy
# is projected, and the next operation on every path succeeds. Prints a table and exits 1 when
# anything was violated.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)

usage() {
  cat <<'EOF'
usage: scripts/chaos.sh [ROUNDS]

  ROUNDS  rounds to run (default 20); the phases take turns, so 5 rounds kill each phase once

Environment: NIMBREL_BUILD_DIR the build folder whose bin/ is used (default build), CHAOS_SEED the
random seed (default: the time; printed), CHAOS_PHASES the phases that take turns (default: all
five), CHAOS_PROJECTION_FILES the files of each projection batch (default 40), CHAOS_STATE the
private folder (default: a new one under TMPDIR, removed at the end unless a violation was found).
EOF
}
case "${1:-}" in -h | --help) usage; exit 0 ;; esac
rounds=${1:-20}
[[ "$rounds" =~ ^[1-9][0-9]*$ ]] || { echo "chaos.sh: ROUNDS must be a positive number (see --help)" >&2; exit 2; }

build=${NIMBREL_BUILD_DIR:-$repo/build}
build=$(cd "$build" && pwd)
server=ZedoziZevoro
mode=0
for tool in nimbrel-mainclient nimbrel-cf nimbrel-menu nimbrel-reg nimbrel-cfd "$server" libnimbrel.so libipcmodule.so; do
  [ -e "$build/bin/$tool" ] || { echo "chaos.sh: $build/bin/$tool is missing; build it first" >&2; exit 2; }
done
seed=${CHAOS_SEED:-$(date +%s)}
RANDOM=$seed
tree="python3 $repo/scripts/chaos/tree.py"

state=${CHAOS_STATE:-$(mktemp -d "${TMPDIR:-/tmp}/nimbrel-chaos.XXXXXX")}
mkdir -p "$state"
state=$(cd "$state" && pwd)
[ -z "$(ls -A "$state")" ] || { echo "chaos.sh: $state is not empty" >&2; exit 2; }
chmod 0700 "$state"
mkdir -m 0700 "$state/home" "$state/run" "$state/app" "$state/cloud" "$state/mount"
app=$state/app
cloud=$state/cloud
mount=$state/mount
# The second names of hard-linked files: a folder of the user's in the mount, which the cloud has not.
archive=$state/mount/Archive
owned=$state/owned.json
# The server keeps its configuration and logs beside its executable: a private application folder.
for file in "$build"/bin/*; do
  [ -f "$file" ] || continue
  ln "$file" "$app/" 2>/dev/null || cp "$file" "$app/"
done
export NIMBREL_PLATFORM_HOME=$state/home NIMBREL_RUNTIME_DIR=$state/run
# The filter service ends with this script, however it ends.
export NIMBREL_CFD_OWNER=$$

client_pid=""
server_pid=""
work_pids=()
violations=0

source "$repo/scripts/lib/processes.sh"
# stuck_threads PID [STATE]: where each thread of PID that still runs (or is in STATE) waits, with
# its kernel stack where this user may read it.
stuck_threads() {
  local task state
  for task in /proc/"$1"/task/*; do
    state=$(awk '/^State:/ { print $2 }' "$task/status" 2>/dev/null)
    [ "$state" != Z ] && [ "$state" = "${2:-$state}" ] || continue
    printf 'thread %s (%s) state %s wchan %s syscall %s\n' "${task##*/}" "$(cat "$task/comm" 2>/dev/null)" \
      "$state" "$(cat "$task/wchan" 2>/dev/null)" \
      "$(cut -d' ' -f1-3 "$task/syscall" 2>/dev/null)"
    sed 's/^/    /' "$task/stack" 2>/dev/null || true
  done
}
cleanup() {
  local status=$?
  trap - EXIT INT TERM
  set +e
  for pid in "${work_pids[@]}"; do stop_pid "$pid"; done
  stop_pid "$client_pid"
  stop_pid "$server_pid"
  for pid in $(filter_service_pids "$state"); do stop_pid "$pid"; done
  # A server stuck in a request of the filter service ends with it.
  [ -z "$server_pid" ] || wait_ended "$server_pid" 10 || true
  if is_mounted "$mount"; then fusermount3 -u "$mount" 2>/dev/null || fusermount3 -uz "$mount" 2>/dev/null; fi
  if [ "$status" -eq 0 ] && [ -z "${CHAOS_STATE:-}" ] && ! is_mounted "$mount"; then
    rm -rf "$state"
  else
    echo "chaos.sh: logs and state kept in $state" >&2
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# --- the cloud and the user's own files ---------------------------------------------------------
random_file() { head -c "$2" /dev/urandom >"$1"; }
mkdir -p "$cloud/Documents/Old" "$cloud/Media/Deep"
for i in 1 2 3 4 5 6; do random_file "$cloud/Documents/note-$i.txt" $((i * 1500 + 7)); done
random_file "$cloud/Documents/Old/report.pdf" 70001
random_file "$cloud/Media/clip.bin" $((2 << 20))
random_file "$cloud/Media/photo.jpg" $((512 << 10 | 1))
random_file "$cloud/Media/Deep/raw.bin" $((768 << 10))
random_file "$cloud/Media/Deep/thumb.png" 4096
random_file "$cloud/README.txt" 300
: >"$cloud/empty.txt"
# Ordinary files of the user's, beside the placeholders and in a folder the cloud has too.
mkdir -p "$mount/Documents" "$archive"
random_file "$mount/mine.txt" 2000
random_file "$mount/Documents/mine-draft.doc" 30000
random_file "$archive/unrelated.bin" 1000
$tree manifest "$owned" "$mount/mine.txt" "$mount/Documents/mine-draft.doc" "$archive/unrelated.bin"

# --- the processes ------------------------------------------------------------------------------
client_log=$state/client.log
mounts() { grep -c '^mounted .*"S_OK"' "$client_log" || true; }
fail() { echo "chaos.sh: $*" >&2; exit 1; }
# wait_for SECONDS COMMAND...: 0 once COMMAND succeeds, 1 after SECONDS.
wait_for() {
  local limit=$1 waited=0
  shift
  until "$@"; do
    [ $waited -lt $((limit * 10)) ] || return 1
    stopped "$client_pid" && fail "the main client ended; see $client_log"
    sleep 0.1
    waited=$((waited + 1))
  done
}
mounted_more_than() { [ "$(mounts)" -gt "$1" ]; }
start_server() {
  setsid "$app/$server" >>"$state/server.out" 2>&1 &
  server_pid=$!
  # Killed on purpose: bash need not report it.
  disown "$server_pid"
}

# Downloads at 4 MiB/s, so that a hydration lasts long enough to be cut short. The log exists before
# the client starts, so the first look into it never misses the file.
: >"$client_log"
setsid "$app/nimbrel-mainclient" --mode $mode serve --cloud "$cloud" --mount "$mount" --poll-ms 200 \
  --rate $((4 << 20)) >"$client_log" 2>&1 &
client_pid=$!
wait_for 30 grep -q '^serving mode' "$client_log" || fail "the main client did not start; see $client_log"
start_server
wait_for 120 grep -q '^pushed ' "$client_log" || fail "the cloud was not projected; see $client_log"
echo "chaos: seed $seed, $rounds rounds, build $build, state $state"

# --- the phases ---------------------------------------------------------------------------------
read -r -a phases <<<"${CHAOS_PHASES:-projection hydration dehydration keep-free hard-link-repair}"
# A batch large enough that a kill can land inside its projection; its window follows how long the
# previous batch took.
projection_files=${CHAOS_PROJECTION_FILES:-40}
declare -A window_ms=([projection]=1500 [hydration]=1000 [dehydration]=600 [keep-free]=1500 [hard-link-repair]=7000)
declare -A kills mid_work
for phase in "${phases[@]}"; do kills[$phase]=0; mid_work[$phase]=0; done
declare -A broken
invariants=(hydrated-bytes user-files stores repair-temp projection next-operation restart)
for invariant in "${invariants[@]}"; do broken[$invariant]=0; done

files_of_cloud() { (cd "$cloud" && find . -type f -printf '%P\n' | sort); }
pick() { shuf -n "$1" --random-source=<(yes "$RANDOM"); }
# Files start every round freed (the previous round's last operation frees everything).
read_files() {
  local path
  for path in "$@"; do cat "$mount/$path" >/dev/null || note next-operation "reading $path failed"; done
}

projection_folder=""
repair_names=()
repairs=0
keep_targets=()

start_projection() {
  projection_folder=Batch-$round
  local staging=$state/staging i sub=("" a/ b/)
  mkdir -p "$staging/$projection_folder/a" "$staging/$projection_folder/b"
  for i in $(seq 1 "$projection_files"); do
    random_file "$staging/$projection_folder/${sub[$((i % 3))]}f$i.dat" $((RANDOM % 4000))
  done
  $tree records "$staging" "$mount" "$projection_folder" >"$state/push.json"
  # The whole batch appears in the cloud at once, so the client's own poll and this push start
  # together and the kill can land inside their work.
  mv "$staging/$projection_folder" "$cloud/"
  "$app/nimbrel-mainclient" --mode $mode send pushFileSystem "@$state/push.json" >/dev/null 2>&1 &
  work_pids=($!)
  mapfile -t busy_check < <(cd "$cloud" && find "$projection_folder")
  busy_check=(placeholder "${busy_check[@]}")
}
# The client pushes the whole tree only once; a server that starts again hears the batch again, as
# from a client that retries what was not answered.
redo_projection() {
  local began
  began=$(date +%s%N)
  "$app/nimbrel-mainclient" --mode $mode send pushFileSystem "@$state/push.json" >/dev/null 2>&1 ||
    note projection "pushFileSystem after the restart failed"
  # The next projection is killed anywhere within the time a whole batch takes on this build.
  window_ms[projection]=$(( ($(date +%s%N) - began) / 1000000 ))
}
# The batch leaves the cloud once its round is checked, so the other phases work on the small tree.
end_projection() {
  rm -rf "${cloud:?}/$projection_folder"
  # The client removes the folder from the mount at its next poll.
  wait_for 30 test ! -e "$mount/$projection_folder" || note projection "$projection_folder stayed after it left the cloud"
}

start_hydration() {
  mapfile -t targets < <(files_of_cloud | pick 3)
  "$app/nimbrel-cf" open "$mount/Media/clip.bin" --read --quiet >/dev/null 2>&1 &
  work_pids=($!)
  # An application's reads: those the kill cuts short fail, which is theirs to retry.
  (cd "$mount" && cat "${targets[@]}" >/dev/null 2>&1) &
  work_pids+=($!)
  busy_check=(hydrated Media/clip.bin "${targets[@]}")
}
redo_hydration() { :; }

start_dehydration() {
  mapfile -t targets < <(files_of_cloud | pick 4)
  read_files "${targets[@]}"
  menu_run FreeUpSpace "${targets[@]}" &
  work_pids=($!)
  busy_check=(freed "${targets[@]}")
}
redo_dehydration() { :; }

start_keep-free() {
  mapfile -t targets < <(files_of_cloud | pick 4)
  read_files "${targets[@]:2}"
  menu_run AlwaysKeepDevice "${targets[@]:0:2}" &
  work_pids=($!)
  menu_run FreeUpSpace "${targets[@]:2}" &
  work_pids+=($!)
  busy_check=(hydrated "${targets[@]:0:2}")
}
redo_keep-free() { :; }
menu_run() {
  local command=$1
  shift
  (cd "$mount" && "$app/nimbrel-menu" --mode $mode run "$command" "$@") >/dev/null 2>&1
}

# A file of the user's with a second name in a folder of theirs, then the same file in the cloud: its
# push finds the hard link and the server repairs it in the background.
start_hard-link-repair() {
  local name
  if [ ${#repair_names[@]} -gt 0 ]; then
    for name in "${repair_names[@]}"; do rm -f "$cloud/$name" "$archive/$name"; done
    wait_for 30 test ! -e "$mount/${repair_names[-1]}" || true
    $tree forget "$owned" "${repair_names[@]/#/$mount/}" "${repair_names[@]/#/$archive/}"
  fi
  repair_names=()
  for i in 1 2 3 4; do
    name=linked-$round-$i.bin
    random_file "$mount/$name" $((RANDOM * 4 + 1))
    ln "$mount/$name" "$archive/$name"
    repair_names+=("$name")
  done
  $tree manifest "$owned" "${repair_names[@]/#/$mount/}" "${repair_names[@]/#/$archive/}"
  for name in "${repair_names[@]}"; do cp "$mount/$name" "$cloud/$name"; done
  repairs=$((repairs + ${#repair_names[@]}))
  work_pids=()
  busy_check=(placeholder "${repair_names[@]}")
}
# A repair the server had queued is gone with it; a client that pushes the files again (as after
# any restart) starts it anew.
redo_hard-link-repair() {
  $tree records "$cloud" "$mount" "${repair_names[@]}" >"$state/push.json"
  "$app/nimbrel-mainclient" --mode $mode send pushFileSystem "@$state/push.json" >/dev/null 2>&1 || true
  wait_for 60 idle placeholder "${repair_names[@]}" ||
    note projection "the hard-linked files were not repaired after the restart: ${repair_names[*]}"
}
idle() { ! $tree busy "$app" "$1" "$mount" "${@:2}"; }

round_log=$state/violations.log
: >"$round_log"
note() {
  printf 'round %d (%s): %s: %s\n' "$round" "$phase" "$1" "$2" | tee -a "$round_log" >&2
  broken[$1]=$((broken[$1] + 1))
  violations=$((violations + 1))
}
sleep_ms() { sleep "$(printf '%d.%03d' $(($1 / 1000)) $(($1 % 1000)))"; }
# Waits for the work the round started, which either finished or failed with the server.
reap_work() {
  local pid waited
  for pid in "${work_pids[@]}"; do
    waited=0
    while ! stopped "$pid" && [ $waited -lt 1200 ]; do sleep 0.1; waited=$((waited + 1)); done
    stopped "$pid" || { note restart "work process $pid still runs 120 s after the restart"; kill -KILL "$pid"; }
    wait "$pid" 2>/dev/null || true
  done
  work_pids=()
}

# --- the rounds ---------------------------------------------------------------------------------
started=$(date +%s)
for ((round = 1; round <= rounds; round++)); do
  round_started=$SECONDS
  phase=${phases[$(((round - 1) % ${#phases[@]}))]}
  mounted_before=$(mounts)
  "start_$phase"
  sleep_ms $((RANDOM * window_ms[$phase] / 32768))
  if stopped "$server_pid"; then
    note restart "the server had ended by itself before the kill"
  else
    kill -KILL "$server_pid"
  fi
  kills[$phase]=$((kills[$phase] + 1))
  if ! wait_ended "$server_pid" 30; then
    note restart "the killed server has not ended 30 s later: a thread of it is stuck"
    { stuck_threads "$server_pid"
      for pid in $(filter_service_pids "$state"); do
        echo "filter service $pid, its threads in uninterruptible waits:"
        stuck_threads "$pid" D
      done; } | tee -a "$round_log" >&2
    break
  fi
  # Whether the kill cut the work short: the server is gone, so what the tree shows now is final.
  if $tree busy "$app" "${busy_check[0]}" "$mount" "${busy_check[@]:1}" 2>/dev/null; then
    mid_work[$phase]=$((mid_work[$phase] + 1))
  fi
  start_server
  if ! wait_for 60 mounted_more_than "$mounted_before"; then
    note restart "the client did not mount again within 60 s"
    continue
  fi
  reap_work
  "redo_$phase"
  while IFS=$'\t' read -r invariant detail; do
    note "$invariant" "$detail"
  done < <($tree check "$app" "$state/home" "$cloud" "$mount" "$owned"; $tree next "$app" "$cloud" "$mount" "$(files_of_cloud | pick 1)")
  [ "$phase" != projection ] || end_projection
  printf 'chaos: round %d/%d %s done in %d s, %d violation(s) so far\n' "$round" "$rounds" "$phase" \
    $((SECONDS - round_started)) "$violations"
done

# --- the summary --------------------------------------------------------------------------------
echo
printf 'rounds %d in %d s (seed %d), hard-linked files repaired under fire %d\n' \
  "$rounds" $(($(date +%s) - started)) "$seed" "$repairs"
printf '%-18s %6s %9s\n' phase kills mid-work
for phase in "${phases[@]}"; do printf '%-18s %6d %9d\n' "$phase" "${kills[$phase]}" "${mid_work[$phase]}"; done
printf '%-18s %6s\n' invariant violations
for invariant in "${invariants[@]}"; do printf '%-18s %6d\n' "$invariant" "${broken[$invariant]}"; done
printf 'total violations %d\n' "$violations"
[ "$violations" -eq 0 ]
