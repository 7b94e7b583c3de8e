#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and runs with (as root).
set -euo pipefail
pkgs=(cmake ninja-build g++ clang pkg-config libjsoncpp-dev qt6-base-dev libgtest-dev libgmock-dev googletest
      libbenchmark-dev libcli11-dev libyaml-cpp-dev fonts-wqy-zenhei xvfb procps python3 prometheus
      python3-matplotlib chromium)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi
