#!/usr/bin/env bash
# Installs this build below a temporary root (DESTDIR) and checks what users
# get: the programs, manual pages that groff formats without a warning, a
# bash completion that parses and completes, a systemd unit that starts
# the installed program and, with the desktop, a menu entry, icons and
# AppStream metadata that their validators accept; then `make uninstall` must remove every file again.
#
#   install_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail

source_dir=$1
build_dir=$2
scratch=$(mktemp -d /tmp/morvex-install-XXXXXX)
root=$scratch/root
manifest=$build_dir/install_manifest.txt
failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The install writes the build folder's manifest, which a later real
# `make uninstall` relies on: it is put back as it was.
if [[ -e $manifest ]]; then cp -p "$manifest" "$scratch/manifest.saved"; fi
restore_manifest() {
  if [[ -e $scratch/manifest.saved ]]; then cp -p "$scratch/manifest.saved" "$manifest"; else rm -f "$manifest"; fi
}
trap 'restore_manifest; rm -rf "$scratch"' EXIT

DESTDIR=$root cmake --install "$build_dir" >"$scratch/install.log"
cp "$manifest" "$scratch/manifest"
restore_manifest

prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:[A-Z]*=//p' "$build_dir/CMakeCache.txt")
expected=(
  bin/morvex
  bin/morvexctl
  share/man/man1/morvex.1.gz
  share/man/man1/morvexctl.1.gz
  share/bash-completion/completions/morvexctl
  lib/systemd/user/morvex.service
  share/doc/morvex/README.md
)
desktop=false
if grep -qx 'MORVEX_DESKTOP:BOOL=ON' "$build_dir/CMakeCache.txt"; then
  desktop=true
  expected+=(
    share/applications/morvex.desktop
    share/metainfo/org.morvex.Morvex.metainfo.xml
    share/icons/hicolor/scalable/apps/morvex.svg
  )
  for size in 16 32 48 64 128 256; do expected+=("share/icons/hicolor/${size}x$size/apps/morvex.png"); done
fi
for file in "${expected[@]}"; do
  [[ -f $root$prefix/$file ]] || fail "$prefix/$file not installed"
  grep -qxF "$prefix/$file" "$scratch/manifest" || fail "$prefix/$file not in the install manifest"
done
for program in morvex morvexctl; do
  [[ -x $root$prefix/bin/$program ]] || fail "$prefix/bin/$program is not executable"
done
# Everything installed is listed, so that uninstall can find it.
while IFS= read -r file; do
  grep -qxF "${file#"$root"}" "$scratch/manifest" || fail "${file#"$root"} installed but not in the manifest"
done < <(find "$root" -type f -o -type l)

for page in morvex morvexctl; do
  warnings=$(gzip -dc "$root$prefix/share/man/man1/$page.1.gz" | groff -man -Tutf8 -ww -z 2>&1) ||
    fail "groff failed on $page.1"
  [[ -z $warnings ]] || fail "groff warns on $page.1: $warnings"
done

completion=$root$prefix/share/bash-completion/completions/morvexctl
bash -n "$completion" || fail "the completion does not parse"
# A few completions, as "words typed|expected candidates".
cases=(
  "tr|trust"
  "trust |request accept deny revoke"
  "--json folder |add remove"
  "-m /tmp help sy|syncs sync-now"
)
for case in "${cases[@]}"; do
  typed=${case%%|*}
  want=${case#*|}
  got=$(bash -c 'source "$1"; read -ra COMP_WORDS <<<"morvexctl $2"; [[ $2 == *" " || -z $2 ]] && COMP_WORDS+=("");
                 COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _morvexctl; echo "${COMPREPLY[*]}"' _ "$completion" "$typed")
  [[ $got == "$want" ]] || fail "completing 'morvexctl $typed' gave '$got', expected '$want'"
done

grep -qx "ExecStart=$prefix/bin/morvex .*" "$root$prefix/lib/systemd/user/morvex.service" ||
  fail "the unit does not start $prefix/bin/morvex"

if $desktop; then
  share=$root$prefix/share
  desktop-file-validate "$share/applications/morvex.desktop" || fail "desktop-file-validate refuses morvex.desktop"
  appstreamcli validate --no-net "$share/metainfo/org.morvex.Morvex.metainfo.xml" >"$scratch/appstream.log" ||
    fail "appstreamcli refuses the metainfo: $(cat "$scratch/appstream.log")"
  for size in 16 32 48 64 128 256; do
    png=$share/icons/hicolor/${size}x$size/apps/morvex.png
    # The PNG header's width and height, big-endian at bytes 16 and 20.
    dimensions=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
    [[ $dimensions == "${size}x$size" ]] || fail "morvex.png for $size pixels is $dimensions"
  done
fi

make -s -C "$source_dir" uninstall DESTDIR="$root" MANIFEST="$scratch/manifest" >"$scratch/uninstall.log"
left=$(find "$root" -type f -o -type l)
[[ -z $left ]] || fail "left after uninstall: $left"

if ((failures > 0)); then exit 1; fi
echo "install and uninstall below $root: ok"
