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

# The field writers: a client configuration with every stored position
# carried, written into its packets; then records written without packets,
# in place into a payload grown once (form) and appended (append).
echo
printf '%-14s %8s\n' writer instr
for name in configwrite55 configform pointform zoneappend basicappend; do
  printf '%-14s %8s\n' "$name" "$(per_command "$name")"
done

# Cost against message size: reads of 1 to 265 packets through the framing,
# with the least-squares line through them (instructions = a + b * packets).
echo
printf '%-14s %8s %8s\n' framing packets instr
points=""
for k in 1 2 4 16 64 128 265; do
  n=$(per_command "framed$k")
  printf '%-14s %8s %8s\n' "framed$k" "$k" "$n"
  points="$points $k:$n"
done
echo "$points" | tr ' ' '\n' | awk -F: 'NF == 2 {
  n++; sx += $1; sy += $2; sxx += $1 * $1; sxy += $1 * $2; x[n] = $1; y[n] = $2 }
  END {
    b = (n * sxy - sx * sy) / (n * sxx - sx * sx); a = (sy - b * sx) / n
    for (i = 1; i <= n; i++) { r = y[i] - (a + b * x[i]); if (r < 0) r = -r; if (r / y[i] > worst) worst = r / y[i] }
    printf "fit: %.0f + %.1f per packet; largest deviation %.1f%%\n", a, b, 100 * worst }'

# One cycle of tarsel::ControlLoop (a joint-angle read and a joint velocity
# sent), counted on the loop's thread alone, against the flat exports it
# ends in: 11 and 111 cycles, the difference divided by 100.
loop_count() {  # loop_count CYCLES -> instructions on the loop's thread
  out=$(mktemp)
  valgrind --tool=callgrind --callgrind-out-file=/dev/null \
    --toggle-collect='tarsel::ControlLoop::Impl::Main*' "$BIN" loop "$1" 2>"$out" >/dev/null
  sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$out"
  rm -f "$out"
}
echo
a=$(loop_count 11)
b=$(loop_count 111)
printf '%-14s %8s\n' loopcycle $(( (b - a) / 100 ))
