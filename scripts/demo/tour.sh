# The demo's tour, sourced by demo.sh: the commands it prints for a second terminal, and the same
# commands run unattended with what each must show (--check). Uses demo.sh's variables: repo, state,
# app, cloud, mount, mode, client_log, server_log.

# The biggest file of the cloud and its first non-empty text file, relative to the cloud.
tour_big=$(cd "$cloud" && find . -type f -printf '%s %P\n' | sort -n | tail -1 | cut -d' ' -f2-)
tour_text=$(cd "$cloud" && find . -type f -name '*.txt' -size +0 -printf '%d %P\n' | sort -n | head -1 | cut -d' ' -f2-)
[ -n "$tour_text" ] || tour_text=$tour_big
q() { printf '%q' "$1"; }
# A path as a person types it: below the home folder it starts with ~/.
qpath() {
  case "$1" in
    "$HOME"/*) printf '~/%s' "$(q "${1#"$HOME"/}")" ;;
    *) q "$1" ;;
  esac
}

# One step a line: the command, a tab, what it shows.
tour_steps() {
  cat <<EOF
source $(qpath "$state/env.sh")	this demo's private state, and its tools on PATH
cd $(qpath "$mount")	
ls -ls	full sizes, zero blocks: placeholders, nothing downloaded
cat $(q "$tour_text")	reads the file: it downloads (this terminal shows it)
sha256sum $(q "$tour_big")	reads the big file: it downloads, with its rate below
nimbrel-cf info $(q "$tour_big")	placeholder, pin, in-sync and hydration state
nimbrel-menu --mode $mode show $(q "$tour_big")	the context menu Explorer would show
nimbrel-menu --mode $mode run FreeUpSpace $(q "$tour_big")	frees its space (the server's log shows it)
ls -ls $(q "$tour_big")	zero blocks again; reading it downloads it again
nimbrel-shell watch	what Explorer is told, as it happens (Ctrl-C to leave)
EOF
}

tour_print() {
  local command comment
  while IFS=$'\t' read -r command comment; do
    if [ -n "$comment" ]; then printf '  %-60s # %s\n' "$command" "$comment"; else printf '  %s\n' "$command"; fi
  done < <(tour_steps)
}

# --- the unattended tour ------------------------------------------------------------------------
tour_failures=0
tour_out=""
pass() { printf '  ok    %s\n' "$1"; }
miss() {
  printf '  FAIL  %s: %s\n' "$1" "$2"
  tour_failures=$((tour_failures + 1))
}
# Runs one printed command as the user would type it, after the two set-up lines.
run_step() {
  local index=$1
  local command
  command=$(tour_steps | sed -n "${index}p" | cut -f1)
  tour_out=$(cd "$mount" && env -i HOME="$HOME" PATH=/usr/bin:/bin TERM=dumb \
    bash -c "$(tour_steps | sed -n 1p | cut -f1) && cd $(q "$mount") && $command" 2>&1) || true
}
files_of() { (cd "$1" && find . -type f ! -name '*.cloudZiduZudu' -printf '%P %s\n' | sort); }
blocks_of() { (cd "$1" && find . -type f -printf '%b\n' | awk '{ n += $1 } END { print n + 0 }'); }
hashes_of() { (cd "$1" && find . -type f ! -name '*.cloudZiduZudu' -print0 | sort -z | xargs -0 -r sha256sum); }

tour_check() {
  echo "Checking the tour:"
  local expected pushed
  expected=$(cd "$cloud" && find . -mindepth 1 | wc -l)
  pushed=$(sed -n 's/^pushed \([0-9]*\) items.*/\1/p' "$client_log" | head -1)
  [ "$pushed" = "$expected" ] && pass "projected $pushed items" || miss "projected count" "pushed $pushed of $expected"

  run_step 3
  if [ "$(files_of "$mount")" = "$(files_of "$cloud")" ] && [ "$(blocks_of "$mount")" = 0 ]; then
    pass "ls -ls: every name and size of the cloud, zero blocks"
  else
    miss "ls -ls" "the mount folder differs from the cloud or takes blocks: $tour_out"
  fi

  run_step 4
  [ "$tour_out" = "$(cat "$cloud/$tour_text")" ] && pass "cat $tour_text: the cloud's bytes" ||
    miss "cat $tour_text" "$tour_out"

  run_step 5
  [ "${tour_out%% *}" = "$(sha256sum <"$cloud/$tour_big" | cut -d' ' -f1)" ] &&
    pass "sha256sum $tour_big: the cloud's hash" || miss "sha256sum $tour_big" "$tour_out"
  [ "$(hashes_of "$mount")" = "$(hashes_of "$cloud")" ] && pass "every file read through the mount has the cloud's hash" ||
    miss "hashes" "a file read through the mount differs from the cloud"

  run_step 6
  [[ "$tour_out" == *'"hydrated":true'* ]] && pass "nimbrel-cf info: hydrated" || miss "nimbrel-cf info" "$tour_out"

  run_step 7
  [[ "$tour_out" == *FreeUpSpace* ]] && pass "nimbrel-menu show: offers FreeUpSpace" || miss "nimbrel-menu show" "$tour_out"

  run_step 8
  local waited=0
  while [ "$(stat -c %b "$mount/$tour_big")" != 0 ] && [ $waited -lt 600 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  [ "$(stat -c %b "$mount/$tour_big")" = 0 ] && pass "nimbrel-menu run FreeUpSpace: zero blocks left" ||
    miss "nimbrel-menu run FreeUpSpace" "$tour_out; $(stat -c %b "$mount/$tour_big") blocks left"

  run_step 9
  [[ "$tour_out" == 0\ * ]] && pass "ls -ls $tour_big: zero blocks" || miss "ls -ls $tour_big" "$tour_out"

  local summary
  summary=$(gawk -v root="$mount/" -f "$repo/scripts/demo/log-summary.awk" "$server_log")
  [[ "$summary" == *"hydration done: $tour_big ("* ]] && [[ "$summary" == *"free up space: $tour_big"* ]] &&
    pass "the server's log summary shows the download and the free-up of $tour_big" ||
    miss "server log summary" "$summary"

  if nimbrel_shell=$("$app/nimbrel-shell" log "$mount") && [ -n "$nimbrel_shell" ]; then
    pass "nimbrel-shell: Explorer was told about $mount"
  else
    miss "nimbrel-shell" "no notification for $mount"
  fi
  [ "$tour_failures" -eq 0 ] || { echo "$tour_failures step(s) failed" >&2; return 1; }
}
