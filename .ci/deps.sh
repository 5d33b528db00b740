#!/usr/bin/env bash
# Installs every Debian package the build, the demo host and the tests need.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
pkgs=(
  # build
  cmake g++ clang libclang-rt-14-dev ninja-build pkg-config clang-format clang-tidy
  qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-declarative-dev-tools
  qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools
  qml6-module-qtqml qml6-module-qtqml-models qml6-module-qtqml-workerscript
  qml6-module-qtquick qml6-module-qtquick-window qml6-module-qtquick-layouts
  qml6-module-qtquick-shapes qml6-module-qttest
  libboost-thread-dev libboost-system-dev libboost-chrono-dev
  libxcb1-dev libxcb-res0-dev libxcb-icccm4-dev libxcb-ewmh-dev libx11-dev libxkbcommon-dev
  libsystemd-dev libbpf-dev bpftool libelf-dev zlib1g-dev libmnl-dev linux-libc-dev
  # the seam's Windows backend, cross-built and run under wine (tools/wintest.sh)
  g++-mingw-w64-x86-64-posix wine64 wine
  # running and testing for real
  xvfb xauth xdotool x11-utils x11-xserver-utils openbox imagemagick
  dbus systemd iproute2 nftables procps util-linux
  # an ordinary user's services in the box: polkit and its text agent, the user's own bus
  polkitd dbus-user-session passwd openssl
  # the filter service under a stalled FUSE file system
  fuse3 bindfs
  # the filter service side by side with nethogs (bench/filter_reply/side_by_side.sh)
  iperf3 nethogs
  libgl1-mesa-dri
  # remaking the artwork (tools/art/ballart.py) and the application icon
  python3 librsvg2-bin
  # the Debian package (cpack -G DEB runs dpkg-shlibdeps) and its checks
  dpkg-dev file lintian desktop-file-utils
)
if [ "${VB_SKIP_APT_UPDATE:-0}" != 1 ]; then apt-get update; fi
apt-get install -y --no-install-recommends "${pkgs[@]}"
