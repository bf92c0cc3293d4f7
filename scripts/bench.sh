#!/usr/bin/env bash
# Builds the release preset and runs benchmarks: every *_bench executable of bench/CMakeLists.txt and
# every bench/*.py script, or only the named ones (bench.sh projection_bench hydration). Each prints
# its figure, an anchor measured in the same run, and the ratio. Every benchmark makes its scratch
# folder under TMPDIR (default /tmp).
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  cat <<'USAGE'
usage: scripts/bench.sh [--fresh-fs] [NAME...]

  --fresh-fs  run each benchmark on a file system of its own: a new ext4 image in memory, mounted
              for the run (needs root). A disk that still frees what an earlier run deleted, or that
              other work shares, changes its speed under a run; a fresh one keeps the anchor steady.
  NAME        benchmarks to run (default: all)
USAGE
}

fresh_fs=0
case "${1:-}" in
  -h | --help) usage; exit 0 ;;
  --fresh-fs) fresh_fs=1; shift ;;
esac
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  mapfile -t names < <(sed -n 's/^add_executable(\([A-Za-z0-9_]*_bench\).*/\1/p' bench/CMakeLists.txt)
  for script in bench/*.py; do names+=("$(basename "${script%.py}")"); done
fi
if [ "$fresh_fs" = 1 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "bench.sh: --fresh-fs mounts a file system image, which needs root" >&2
    exit 2
  fi
  command -v mkfs.ext4 > /dev/null || { echo "bench.sh: --fresh-fs needs mkfs.ext4 (scripts/install-deps.sh)" >&2; exit 2; }
fi

image_dir=""
scratch_fs=""
# Unmounts what a benchmark left mounted below the scratch file system, then the file system itself,
# and deletes its image.
drop_scratch_fs() {
  if [ -n "$scratch_fs" ]; then
    local target
    for target in $(findmnt -rn -o TARGET | grep -F "$scratch_fs/" | sort -r || true); do
      fusermount3 -u "$target" 2> /dev/null || umount -l "$target"
    done
    umount "$scratch_fs" 2> /dev/null || umount -l "$scratch_fs"
    rmdir "$scratch_fs"
  fi
  [ -z "$image_dir" ] || rm -rf "$image_dir"
  image_dir=""
  scratch_fs=""
}
trap drop_scratch_fs EXIT

# A new ext4 file system (default features, with a journal) on an image in memory, with room for
# a million files; its inode tables are written now, so no background initialisation runs during
# the benchmark. It is mounted on a folder of the usual temporary folder: a benchmark's paths keep
# their usual length, which the per-item work of path handling depends on.
make_scratch_fs() {
  image_dir=$(mktemp -d /dev/shm/nimbrel-bench-image.XXXXXX)
  truncate -s 8G "$image_dir/image"
  mkfs.ext4 -q -F -N 1000000 -E lazy_itable_init=0,lazy_journal_init=0 "$image_dir/image"
  scratch_fs=$(mktemp -d "${TMPDIR:-/tmp}/nimbrel-bench.XXXXXX")
  mount -o loop "$image_dir/image" "$scratch_fs"
  chmod 1777 "$scratch_fs"
}

bash scripts/build.sh release -j"${NIMBREL_JOBS:-2}"
for name in "${names[@]}"; do
  echo "== $name"
  if [ "$fresh_fs" = 1 ]; then
    make_scratch_fs
    echo "(on a fresh ext4 file system at $scratch_fs)"
  fi
  scratch=${scratch_fs:-${TMPDIR:-/tmp}}
  if [ -f "bench/$name.py" ]; then
    TMPDIR=$scratch python3 "bench/$name.py" build-release/bin
  elif [ -x "build-release/bin/$name" ]; then
    TMPDIR=$scratch "build-release/bin/$name"
  else
    echo "bench.sh: no benchmark named $name" >&2
    exit 2
  fi
  drop_scratch_fs
done
