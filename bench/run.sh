#!/usr/bin/env bash
# Times lsinstalled against one sequential pass over the same file
# (grep -c '^\[') and, when Wine is installed, against
# `wine reg query ... /s /v DisplayName` with a running server, for hives of
# N = 0, 500, 5,000 and 50,000 Uninstall subkeys.  Prints a table with the
# ratios, the peak RSS and the instructions one run takes (callgrind: a
# count that does not move with the machine's load, as times do).  The
# floor is listing_floor: the file read and the same names listed, with no
# reader at all, the least any run can take.  A local tool, not part of CI.
#
#   bench/run.sh [N...]
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v hyperfine >/dev/null || need+=(hyperfine)
[ -x /usr/bin/time ] || need+=(time)
command -v jq >/dev/null || need+=(jq)
command -v valgrind >/dev/null || need+=(valgrind)
dpkg -s libbenchmark-dev >/dev/null 2>&1 || need+=(libbenchmark-dev)
if [ ${#need[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo apt-get install -y -qq "${need[@]}" >/dev/null
fi

# The benchmark build holds the program, built as the release build is,
# and the floor.
cmake --workflow --preset bench >/dev/null
program=$PWD/build/bench/lsinstalled
floor=$PWD/build/bench/listing_floor
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(0 500 5000 50000)

# A real prefix for the Wine column: the generated Uninstall sections are
# appended to a fresh prefix's system.reg while no server runs.
have_wine=false
if command -v wine >/dev/null; then
  have_wine=true
  export WINEDEBUG=-all
  WINEPREFIX=$work/wine-base wine wineboot -i >/dev/null 2>&1
  WINEPREFIX=$work/wine-base wineserver -w
fi

printf '%-7s %9s %12s %12s %12s %14s %10s %11s %10s %11s %10s\n' N file_MB \
  lsinstalled floor grep "wine reg query" ls/grep floor/grep wine/ls \
  peak_RSS_MB instr_M
for n in "${sizes[@]}"; do
  prefix=$work/p$n
  mkdir -p "$prefix"
  python3 bench/make_hive.py "$n" "$prefix/system.reg" \
    --names "$work/names$n" >&2
  hive=$prefix/system.reg
  # Runs of a few milliseconds need many to tell 1.2 times from 1.4.
  runs=(--warmup 10 --min-runs 100)
  [ "$n" -lt 5000 ] || runs=(--warmup 3 --min-runs 20)
  [ "$n" -lt 50000 ] || runs=(--warmup 1 --runs 3)
  commands=("$program" "$floor $work/names$n" "grep -c '^\\[' $hive")
  if $have_wine; then
    wine_prefix=$work/wine$n
    # The drive is shared; the registry files are the prefix's own.
    mkdir -p "$wine_prefix"
    ln -s "$work/wine-base/drive_c" "$wine_prefix/drive_c"
    cp -a "$work/wine-base/dosdevices" "$work/wine-base"/*.reg \
      "$work/wine-base/.update-timestamp" "$wine_prefix/"
    python3 bench/make_hive.py "$n" "$work/u$n.reg" --uninstall-only >&2
    cat "$work/u$n.reg" >>"$wine_prefix/system.reg"
    WINEPREFIX=$wine_prefix wineserver -p >/dev/null 2>&1 </dev/null
    WINEPREFIX=$wine_prefix wine reg query 'HKLM\Software\Wine' >/dev/null 2>&1
    commands+=("env WINEPREFIX=$wine_prefix wine reg query 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall' /s /v DisplayName")
  fi
  # -i: wine reg query exits 1 when it finds no value (N = 0).  Output
  # goes to a pipe: grep writing to /dev/null stops at its first match, as
  # with -q, and would not pass over the file at all.
  WINEPREFIX=$prefix hyperfine -N -i --output=pipe "${runs[@]}" \
    --export-json "$work/r$n.json" "${commands[@]}" >/dev/null
  $have_wine && WINEPREFIX=$wine_prefix wineserver -k
  median() { jq ".results[$1].median * 1000" "$work/r$n.json"; }
  ls_ms=$(median 0)
  floor_ms=$(median 1)
  grep_ms=$(median 2)
  wine_ms=$($have_wine && median 3 || echo nan)
  rss_kb=$(WINEPREFIX=$prefix /usr/bin/time -f %M "$program" 2>&1 >/dev/null)
  instructions=$(WINEPREFIX=$prefix valgrind --tool=callgrind \
    --callgrind-out-file=/dev/null "$program" 2>&1 >/dev/null |
    awk '/Collected :/ { print $NF }')
  awk -v n="$n" -v bytes="$(stat -c %s "$hive")" -v ls="$ls_ms" \
    -v floor="$floor_ms" -v grep="$grep_ms" -v wine="$wine_ms" \
    -v rss="$rss_kb" -v instructions="$instructions" 'BEGIN {
      printf "%-7s %9.2f %10.1fms %10.1fms %10.1fms %14s %9.2fx %10.2fx %10s %11.1f %10.1f\n",
        n, bytes / 1048576, ls, floor, grep,
        wine == "nan" ? "-" : sprintf("%.1fms", wine), ls / grep,
        floor / grep, wine == "nan" ? "-" : sprintf("%.1fx", wine / ls),
        rss / 1024, instructions / 1e6 }'
done
