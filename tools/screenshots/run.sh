#!/usr/bin/env bash
# Renders every window, page and dialog of the desktop to PNG files under
# Xvfb, once per language, for a person to look at:
#   tools/screenshots/run.sh [BUILD_DIR] [OUTDIR]
# (defaults: build, build/screenshots). Each language gets a folder of its
# own: OUTDIR/C and OUTDIR/zh_CN. Nothing is started but Xvfb and the
# renderer, which opens no socket beyond the X server's.
set -euo pipefail
build=${1:-build}
out=${2:-$build/screenshots}
tool="$build/bin/morvex_screenshots"
[ -x "$tool" ] || { echo "no $tool: build the desktop first (make build)" >&2; exit 1; }
command -v xvfb-run >/dev/null || { echo "xvfb-run is missing: run scripts/install-deps.sh" >&2; exit 1; }
# Its own configuration folder: nothing of the user's is read or written.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for lang in C zh_CN; do
  case $lang in
    C) locale=C.UTF-8 ;;
    zh_CN) locale=zh_CN.UTF-8 ;;
  esac
  mkdir -p "$out/$lang"
  env -u LANGUAGE -u LC_ALL -u LC_MESSAGES LANG="$locale" QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME="$scratch" \
    DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/morvex-screenshots \
    xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" "$tool" "$out/$lang"
done
echo "look at: $out/C/*.png $out/zh_CN/*.png"
