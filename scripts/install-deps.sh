#!/usr/bin/env bash
# Installs the Debian packages that building and testing Morvex needs.
# Does nothing when every package is already installed, so `make` can run it
# on every invocation.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libzmq3-dev
  libprotobuf-dev protobuf-compiler
  libsqlite3-dev sqlite3
  libssl-dev libcurl4-openssl-dev
  libgoogle-glog-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  iproute2 python3
  groff-base
  gettext locales
  clang libclang-rt-14-dev
  # The desktop: Qt 6 Widgets, D-Bus and SVG; the X server its tests run
  # on; a font with the Chinese glyphs; the checkers of its packaging.
  qt6-base-dev qt6-svg-dev libqt6svg6 libxcb1-dev qt6-translations-l10n
  xvfb xauth xdotool dbus fonts-noto-cjk desktop-file-utils appstream
)

# The Chinese catalog is tested under LANG=zh_CN.UTF-8, which needs that
# locale generated.
ensure_zh_cn_locale() {
  if locale -a 2>/dev/null | grep -qix 'zh_CN.utf-\?8'; then return; fi
  echo "Generating the zh_CN.UTF-8 locale"
  "${sudo_cmd[@]}" sed -i 's/^# *\(zh_CN.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
  "${sudo_cmd[@]}" locale-gen
}

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  ensure_zh_cn_locale
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
ensure_zh_cn_locale
