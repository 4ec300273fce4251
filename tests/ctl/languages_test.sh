#!/usr/bin/env bash
# morvexctl speaks the locale's language: English under LANG=C, the zh_CN
# catalog's Chinese under LANG=zh_CN.UTF-8. Only commands that end before
# any service is asked, so no service is needed.
#
#   languages_test.sh BIN_DIR LOCALE_DIR
# Exit 77 (skipped) when the zh_CN.UTF-8 locale is not generated.
set -uo pipefail

bin_dir=$1
export MORVEX_LOCALEDIR=$2
# LANGUAGE and LC_ALL would override LANG for the messages.
unset LANGUAGE LC_ALL LC_MESSAGES
failures=0

if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf-\?8'; then
  echo "SKIP: the zh_CN.UTF-8 locale is not generated (scripts/install-deps.sh does it)"
  exit 77
fi
missing_profile=$(mktemp -d /tmp/morvex-languages-XXXXXX)
trap 'rm -rf "$missing_profile"' EXIT

# expect LANG STATUS STREAM TEXT ARGUMENTS...: running morvexctl (or, with
# PROGRAM=morvex, the service's command line, which answers --help before
# anything starts) under LANG exits with STATUS and writes TEXT (a fixed
# string) on STREAM (out or err).
expect() {
  local lang=$1 status=$2 stream=$3 text=$4 program=${PROGRAM:-morvexctl}
  shift 4
  local out err got
  out=$(LANG=$lang "$bin_dir/$program" "$@" 2>/dev/null)
  got=$?
  err=$(LANG=$lang "$bin_dir/$program" "$@" 2>&1 >/dev/null)
  local shown=$out
  [ "$stream" = err ] && shown=$err
  if [ "$got" -ne "$status" ]; then
    echo "FAIL: LANG=$lang morvexctl $*: exit $got, expected $status" >&2
    failures=$((failures + 1))
  elif [[ "$shown" != *"$text"* ]]; then
    echo "FAIL: LANG=$lang morvexctl $*: standard $stream lacks '$text':" >&2
    printf '%s\n' "$shown" >&2
    failures=$((failures + 1))
  fi
}

expect C 2 err "morvexctl: unknown command 'bogus'; see 'morvexctl --help'" bogus
expect zh_CN.UTF-8 2 err "morvexctl: 未知命令 'bogus'；参见 'morvexctl --help'" bogus
expect C 2 err "no command given; see" --json
expect zh_CN.UTF-8 2 err "未指定命令；参见" --json
expect C 2 err "morvexctl: unknown option '--bogus'; see" --bogus status
expect zh_CN.UTF-8 2 err "morvexctl: 未知选项 '--bogus'；参见" --bogus status
expect C 0 out "usage: morvexctl status" help status
expect C 1 err "start the Morvex service once with this profile" -m "$missing_profile/none" status
expect zh_CN.UTF-8 1 err "请用此配置启动一次 Morvex 服务" -m "$missing_profile/none" status
expect zh_CN.UTF-8 0 out "服务正在执行的任务" --help
PROGRAM=morvex expect C 0 out "Usage: morvex [OPTION]..." --help
PROGRAM=morvex expect zh_CN.UTF-8 0 out "用法：morvex [OPTION]..." --help

# Neither language leaks into the other.
english=$({ LANG=C "$bin_dir/morvexctl" bogus; LANG=C "$bin_dir/morvexctl" --help; LANG=C "$bin_dir/morvex" --help; } 2>&1)
if grep -qP '[\x{4e00}-\x{9fff}]' <<<"$english"; then
  echo "FAIL: Chinese under LANG=C" >&2
  failures=$((failures + 1))
fi

[ "$failures" -eq 0 ] && echo "PASS" || exit 1
