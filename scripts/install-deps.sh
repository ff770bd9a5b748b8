#!/usr/bin/env bash
# Installs the Debian packages Kabinex needs to build, run and test, skipping those present.
set -euo pipefail

packages=(
  cmake g++ make ccache pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev fonts-liberation2
  libqt6gui6  # Qt's image plugins: JPEG screenshots (PNG is built into Qt itself)
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev libgif-dev
  unzip zip
  xvfb xauth xdotool imagemagick x11-utils openbox
  gifsicle python3-pil ffmpeg giflib-tools
  libxtst-dev libxcb1-dev
  libsdl2-dev  # pads and arcade sticks (joystick and game-controller subsystems only)
  dpkg-dev lintian appstream desktop-file-utils man-db  # the Debian package and its checks
  ntfs-3g exfat-fuse exfatprogs dosfstools fusefat squashfs-tools squashfuse fuse3  # the disks the tests mount
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
