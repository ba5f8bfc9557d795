#!/bin/sh
# Instructions per command and per packet, counted by callgrind: each command
# runs 1 and 101 times and the difference is divided by 100, so start-up costs
# drop out. Ratios are against the floor (one bare call of the bound SendPacket
# into the zero-latency link).
#   bench/count_instructions.sh [build dir]
set -eu
BUILD=${1:-build}
BIN="$BUILD/bin/tarsel_bench_instructions"
count() {  # count COMMAND REPEATS -> total instructions
  out=$(mktemp)
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$BIN" "$1" "$2" 2>"$out" >/dev/null
  sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$out"
  rm -f "$out"
}
per_command() {  # per_command COMMAND -> instructions per command
  a=$(count "$1" 1)
  b=$(count "$1" 101)
  echo $(( (b - a) / 100 ))
}
floor=$(per_command floor)
printf '%-14s %8s %8s %12s %8s\n' command packets instr instr/packet ratio
for entry in floor:1 read1:1 bare:1 advance3:3 general15:15 mapread265:265 mapwrite265:265 \
             zonesread79:79 zoneswrite79:79; do
  name=${entry%%:*}
  packets=${entry#*:}
  n=$(per_command "$name")
  per=$(( n / packets ))
  ratio=$(awk -v a="$per" -v f="$floor" 'BEGIN { printf "%.1f", a / f }')
  printf '%-14s %8s %8s %12s %8s\n' "$name" "$packets" "$n" "$per" "$ratio"
done
