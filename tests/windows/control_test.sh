#!/bin/sh
# corvella-cli.exe stopped by Ctrl-C while it writes a long part: as on
# Linux, the part under way is dropped, the parts already written stay, no
# hidden temporary is left and the exit status is 130. Under wine a SIGINT
# to the program reaches it as the console's CTRL_C_EVENT, through the
# handler Windows calls.
#   control_test.sh WINE_RUN CORVELLA_CLI_EXE
set -eu
wine_run=$1
cli=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
# Two seconds of tone, two of silence, then fifteen minutes of tone: the
# second part takes seconds to encode as FLAC.
sox -n -r 44100 -c 2 -b 16 first.wav synth 2 sine 300 pad 0 2
sox -n -r 44100 -c 2 -b 16 second.wav synth 900 sine 400 vol 0.5
sox first.wav second.wav tape.wav
mkdir out
"$wine_run" "$cli" split --to flac -o out tape.wav < /dev/null > stdout 2> stderr &
pid=$!
for _ in $(seq 1 600); do
  [ -f out/tape_001.flac ] && break
  sleep 0.05
done
sleep 0.3
kill -INT "$pid"
status=0
wait "$pid" || status=$?
fail() { echo "control_test: $*"; ls -la out; cat stdout stderr; exit 1; }
[ "$status" -eq 130 ] || fail "exit status $status, not 130"
[ -f out/tape_001.flac ] || fail "the part written before the stop is gone"
hidden=$(find out -name '.*' -type f)
[ -z "$hidden" ] || fail "hidden files are left: $hidden"
if [ -f out/tape_002.flac ]; then
  flac -t -s out/tape_002.flac || fail "the part under way was left cut short"
fi
echo "control_test: stopped with 130, $(ls out | wc -l) whole part(s), nothing else"
