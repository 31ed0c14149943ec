#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, when they are missing.
set -euo pipefail
packages=(build-essential cmake pkg-config libgtest-dev libgmock-dev libgmime-3.0-dev
          qt6-base-dev pff-tools pst-utils python3-pypff xvfb xauth
          libpython3.11-testsuite libmime-explode-perl tzdata
          libarchive-dev libdeflate-dev zlib1g-dev libbz2-dev liblzma-dev libzstd-dev zstd xdotool openbox x11-utils imagemagick desktop-file-utils
          dpkg-dev file parallel ccache nlohmann-json3-dev man-db
          dbus-daemon at-spi2-core python3-dbus)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
