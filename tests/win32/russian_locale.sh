#!/usr/bin/env bash
# Runs the path tests under a Russian locale, whose code page (1251) has no
# letter for a folder named Zoë, in a Wine prefix and server of their own:
# the suite's own server keeps its locale. Arguments: the test program and
# the prefix folder.
set -euo pipefail
exe=$1
prefix=$(realpath -m "$2")  # Wine wants it absolute
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
  echo "the ru_RU.UTF-8 locale is missing: run scripts/install-deps" >&2
  exit 1
fi
export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
if [ ! -f "$prefix/system.reg" ]; then
  wineboot --init >/dev/null 2>&1
  wineserver -w
fi
VESK_EXPECT_SYSTEM_CODE_PAGE=1251 wine "$exe" --gtest_filter='Utf8Paths.*'
