# Process and mount helpers shared by the scripts that bring up a client, a server and the filter
# service (demo.sh, chaos.sh). Sourced, not run.

stopped() { ! kill -0 "$1" 2>/dev/null; }
# Ended for good: gone, or a zombie none of whose threads still runs (a thread stuck in a
# file-system request keeps a killed process from ending).
ended() {
  [ -e "/proc/$1" ] || return 0
  [ "$(awk '/^State:/ { print $2 }' "/proc/$1/status" 2>/dev/null)" = Z ] &&
    [ "$(awk '/^Threads:/ { print $2 }' "/proc/$1/status" 2>/dev/null)" = 1 ]
}
# wait_ended PID SECONDS: reaps PID once it ended; 1 when it did not within SECONDS.
wait_ended() {
  local waited=0
  until ended "$1"; do
    [ $waited -lt $(($2 * 10)) ] || return 1
    sleep 0.1
    waited=$((waited + 1))
  done
  wait "$1" 2>/dev/null || true
}
# stop_pid PID: asks PID to end, then kills it; says so when even that does not end it.
stop_pid() {
  local pid=$1
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null || true
  wait_ended "$pid" 10 && return 0
  kill -KILL "$pid" 2>/dev/null || true
  wait_ended "$pid" 10 || echo "$(basename "$0"): process $pid does not end" >&2
}
# filter_service_pids STATE: the filter service of the runtime folder STATE/run, when it runs.
filter_service_pids() {
  local lock pid
  for lock in "$1"/run/cfd-*.lock; do
    [ -e "$lock" ] || continue
    pid=$(cat "$lock" 2>/dev/null || true)
    [ -n "$pid" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = nimbrel-cfd ] && echo "$pid"
  done
  return 0
}
# is_mounted PATH: whether a file system is mounted at PATH.
is_mounted() { findmnt -rn --mountpoint "$1" >/dev/null 2>&1; }
