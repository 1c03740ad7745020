#!/usr/bin/env bash
# Debian's own checks on the files the desktop and man read: any complaint fails.
#   check-files.sh SOURCE_DIR
set -uo pipefail
src=$1
failed=0
desktop-file-validate "$src/packaging/org.kavanti.Kavanti.desktop" || failed=1
appstreamcli validate --no-net "$src/packaging/org.kavanti.Kavanti.metainfo.xml" || failed=1
for page in "$src"/packaging/man/*.[18]; do
  # man --warnings exits 0 even when groff warns: what it prints is the verdict.
  out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  if [ -n "$out" ]; then
    echo "$page:"; echo "$out"; failed=1
  fi
done
# Every program that is installed has its page.
for prog in kavanti kavanti-ctl kavanti-demo kavanti-cardsim kavanti-pppsim kavanti-servicesim kavanti-sudosim; do
  [ -f "$src/packaging/man/$prog.1" ] || { echo "no man page for $prog"; failed=1; }
done
[ -f "$src/packaging/man/KavantiTool.8" ] || { echo "no man page for KavantiTool"; failed=1; }
exit $failed
