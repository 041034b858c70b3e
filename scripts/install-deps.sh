#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and every make target (format, tidy,
# package) need, and CI's checks of the package (lintian, appstream), when any is missing.
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config qt6-base-dev libgl-dev libgtest-dev
          libgmock-dev libcli11-dev nlohmann-json3-dev groff-base clang libclang-rt-14-dev xvfb xauth
          dbus strace librsvg2-bin desktop-file-utils shared-mime-info libxml2-utils dpkg-dev file
          git clang-format clang-tidy lintian appstream)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
