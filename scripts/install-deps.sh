#!/usr/bin/env bash
# Installs every Debian 12 package the project needs to build, test and run.
# Idempotent; run as root.
set -euo pipefail
packages=(
  build-essential g++ cmake ninja-build pkg-config git
  clang lld libclang-rt-14-dev clang-format
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libssl-dev nlohmann-json3-dev libicu-dev gettext
  libacl1-dev acl attr libplist-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev libglx-dev
  fonts-dejavu-core dbus
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
