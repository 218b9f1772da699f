#!/usr/bin/env bash
# Installs what building and testing need, when it is missing (Debian 12).
set -euo pipefail
packages=(g++ cmake make pkg-config libsqlite3-dev sqlite3 libcrypt-dev googletest libgtest-dev libgmock-dev
          libbenchmark-dev libasio-dev libtelnet-dev telnet expect python3-pexpect clang-14 libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: these packages are missing, run as root to install them: ${missing[*]}" >&2
    exit 1
  fi
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
