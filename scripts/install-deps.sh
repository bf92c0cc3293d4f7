#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the demo need. Safe to run again.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config clang-format clang libclang-rt-14-dev
  qtbase5-dev libspdlog-dev libfmt-dev rapidjson-dev libssl-dev libcurl4-openssl-dev
  libsqlite3-dev sqlite3 libfuse3-dev fuse3 libgtest-dev libgmock-dev libcpp-httplib-dev
  libbenchmark-dev openssl attr acl psmisc procps curl python3 gawk e2fsprogs
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
"${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
