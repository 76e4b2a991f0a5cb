#!/usr/bin/env bash
# Shared by the benchmark scripts: one timed updater run on a fresh copy of an
# installation, with the entry point as a host stand-in, as the shared
# bench/updater.sh runs it.
#
#   source bench/run_updater.sh
#   run_updater BINARY INSTALLED BASE_URL WORK [CA_PEM]
#
# Copies INSTALLED to WORK/app, adds BINARY as Velmora (and CA_PEM as
# UpdateCA.pem), starts the entry point the local list names with --stand-in,
# runs "Velmora start BASE_URL HOST_PID" under /usr/bin/time and prints
# "wall-ms peak-rss-KiB bytes-on-wire bytes-written outcome" from the status file.

# The host stand-in: stays up until SIGTERM when started with --stand-in,
# records a start otherwise.
write_stand_in() {
  cat >"$1" <<'HOST'
#!/bin/sh
d=$(cd "$(dirname "$0")" && pwd)
if [ "${1:-}" = --stand-in ]; then trap 'exit 0' TERM; while :; do sleep 0.2; done; fi
echo "started $(date +%s.%N) pid $$" >>"$d/host-started.log"
HOST
  chmod 755 "$1"
}

status_value() { sed -n "s|.*<$2>\(.*\)</$2>.*|\1|p" "$1/UpdateStatus.xml" 2>/dev/null | head -n1; }

run_updater() {
  local binary=$1 installed=$2 base=$3 work=$4 ca=${5:-} app entry host t0 t1 rss
  app="$work/app"
  rm -rf "$work"; mkdir -p "$work"
  cp -a "$installed" "$app"
  cp "$binary" "$app/Velmora"; chmod 755 "$app/Velmora"
  [ -n "$ca" ] && cp "$ca" "$app/UpdateCA.pem"
  entry=$(sed -n 's|.*<EntryPoint>\(.*\)</EntryPoint>.*|\1|p' "$app/UpdateList.xml" | head -n1)
  write_stand_in "$app/$entry"
  ("$app/$entry" --stand-in </dev/null >/dev/null 2>&1 & echo $! >"$work/host.pid")
  host=$(cat "$work/host.pid")
  sync
  t0=$(date +%s%N)
  (cd "$app" && /usr/bin/time -f %M -o "$work/time.txt" timeout --kill-after=5 600 ./Velmora start "$base" "$host" \
    </dev/null >"$work/stdout.txt" 2>"$work/stderr.txt") || true
  t1=$(date +%s%N)
  kill "$host" 2>/dev/null || true
  rss=$(grep -E '^[0-9]+$' "$work/time.txt" | tail -n1)
  local wire written outcome
  wire=$(status_value "$app" BytesDownloaded); written=$(status_value "$app" BytesWritten)
  outcome=$(status_value "$app" Outcome)
  echo "$(( (t1 - t0) / 1000000 )) ${rss:-0} ${wire:--} ${written:--} ${outcome:--}"
}

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2}'; }
