#!/usr/bin/env bash
# Runs the parts that share state between threads under ThreadSanitizer: builds their tests with the
# "tsan" preset (build-tsan/) and runs them. Every process the tests start (the filter service, the
# tools, test providers) writes its reports into one folder, which is counted at the end; exits 1
# when there is any report or a test fails.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  cat <<'USAGE'
usage: scripts/tsan.sh [SUITE...]

  SUITE  test executables to run (default: the scheduler, the mount manager, the filter core and
         service, the registry notifier, the shell refresh and the socket server suites)
USAGE
}
case "${1:-}" in -h | --help) usage; exit 0 ;; esac
suites=("$@")
[ ${#suites[@]} -gt 0 ] || suites=(ipc_hydration_tests ipc_mount_tests platform_cloudfiles_tests platform_filterd_tests
  platform_registry_tests ipc_shell_refresh_tests socket_tests)

scripts/build.sh tsan -j"${NIMBREL_JOBS:-2}" "${suites[@]}"

reports=$(mktemp -d "${TMPDIR:-/tmp}/nimbrel-tsan.XXXXXX")
export TSAN_OPTIONS="log_path=$reports/report suppressions=$PWD/scripts/tsan.supp second_deadlock_stack=1"
labels=$(IFS='|'; echo "^(${suites[*]})\$")
status=0
ctest --test-dir build-tsan -L "$labels" -j"${NIMBREL_JOBS:-2}" --output-on-failure || status=1

count=$(cat "$reports"/report.* 2>/dev/null | grep -c '^WARNING: ThreadSanitizer' || true)
if [ "$count" -gt 0 ]; then
  echo "tsan.sh: $count report(s), in $reports:"
  grep -h '^WARNING: ThreadSanitizer' "$reports"/report.* | sort | uniq -c
  status=1
else
  echo "tsan.sh: no report from ${#suites[@]} suite(s)"
  rm -rf "$reports"
fi
exit $status
