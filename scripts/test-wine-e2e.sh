#!/usr/bin/env bash
# End-to-end runs of the cross-built Velmora.exe under wine64 against a release
# served by nginx on 127.0.0.1: one scenario per situation a Windows
# installation meets, each bounded in time, with a closing count.
#
# Usage: scripts/test-wine-e2e.sh [folder with Velmora.exe, test_host.exe and host_example.exe]
#        (default build-windows, as scripts/build-windows.sh leaves it)
# Every installation lives on drive V:, a private Wine drive mapped to a
# temporary folder; each run retires files to .RECYCLER\<run>\ inside it.
# Every run goes direct unless its scenario sets the user's proxy setting.
# Everything this script starts ends with it (wineserver -k, nginx and the
# logging proxy by their pids);
# VELMORA_E2E_KEEP=1 keeps the temporary folder for a look afterwards.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-"$root/build-windows"}
messages="$root/src/diagnostics/messages.h"
for f in Velmora.exe test_host.exe host_example.exe; do
  [ -f "$bin/$f" ] || { echo "wine-e2e: $bin/$f is missing (run scripts/build-windows.sh)" >&2; exit 1; }
done
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)

work=$(mktemp -d /tmp/velmora-wine-e2e.XXXXXX)
chmod 755 "$work"
mkdir -p "$work/prefix" "$work/tmp" "$work/v" "$work/www" "$work/nginx/tmp"
export WINEPREFIX="$work/prefix" TMPDIR="$work/tmp" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=d;mshtml=d;winemenubuilder.exe=d"
export LANG=C.UTF-8 LC_ALL=C.UTF-8
vdrive="$work/v"
www="$work/www"
nginx_pid=""
proxy_pid=""

cleanup() {
  timeout 20 "$wineserver" -k >/dev/null 2>&1
  [ -n "$proxy_pid" ] && kill -TERM "$proxy_pid" 2>/dev/null
  if [ -n "$nginx_pid" ] && [ "$(cat "/proc/$nginx_pid/comm" 2>/dev/null)" = nginx ]; then
    kill -TERM "$nginx_pid" 2>/dev/null
    for _ in $(seq 50); do [ -e "/proc/$nginx_pid" ] || break; sleep 0.1; done
  fi
  if [ -n "${VELMORA_E2E_KEEP:-}" ]; then echo "wine-e2e: kept $work" >&2; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 2' INT TERM

# ------------------------------------------------------------------ helpers
# The fixed log text NAME from messages.h, as UTF-8.
msg() {
  local line
  line=$(grep -m1 "constexpr char $1\[\]" "$messages") || { echo "wine-e2e: no message $1" >&2; return 1; }
  line=${line#*= \"}
  line=${line%\";*}
  line=${line//\" \"/}
  printf '%b' "$line" | iconv -f GBK -t UTF-8
}
# wait_for SECONDS COMMAND...: polls COMMAND every 0.2 s until it succeeds
wait_for() {
  local deadline=$(( $(date +%s) + $1 )); shift
  until "$@"; do [ "$(date +%s)" -lt "$deadline" ] || return 1; sleep 0.2; done
}
# Extra environment for the Wine programs of the current scenario (its locale).
wine_env=()
# wine_bounded SECONDS ARGS...: runs wine64 ARGS, killed after SECONDS
wine_bounded() { local seconds=$1; shift; env "${wine_env[@]}" timeout -k 5 "$seconds" "$wine" "$@"; }
# pids_matching PATTERN: the pids whose command line matches the glob PATTERN
# (Wine shows a Windows program's command line as its own; a program started
# by the updater is not a child of this shell).
pids_matching() {
  local f parts
  for f in /proc/[0-9]*/cmdline; do
    mapfile -d '' parts 2>/dev/null <"$f" || continue
    [[ "${parts[*]}" == $1 ]] && { f=${f#/proc/}; echo "${f%/cmdline}"; }
  done
}
# True while an updater of this script runs: one whose command line names this script's server.
updater_running() { [ -n "$(pids_matching "*Velmora.exe*$base/*")" ]; }
no_updater_running() { ! updater_running; }

failures=()   # the current scenario's failed checks
# check DESCRIPTION COMMAND...: records DESCRIPTION as failed unless COMMAND succeeds
check() {
  local what=$1; shift
  "$@" && return 0
  failures+=("$what")
  return 1
}
same() { cmp -s "$1" "$2"; }
missing() { [ ! -e "$1" ]; }
# The log's fixed texts; the DEBUG lines with the codes behind them are left out.
log_text() { cat "$1"/log/*.log 2>/dev/null | iconv -f GBK -t UTF-8 -c | grep -av '^[-0-9]* [0-9:,]*: DEBUG '; }
log_has() { log_text "$1" | grep -qF -- "$2"; }
log_lacks() { ! log_has "$1" "$2"; }
list_has() { grep -qF -- "Ver=\"$3\" Name=\"$2\"" "$1/UpdateList.xml"; }
lines_at_least() { [ -f "$1" ] && [ "$(wc -l <"$1")" -ge "$2" ]; }
gone() { ! kill -0 "$1" 2>/dev/null; }
status_is() { grep -qF "<Outcome>$2</Outcome>" "$1/UpdateStatus.xml"; }
# retired_has INSTALL NAME TEXT: the one run folder of the retire folder keeps NAME with TEXT
retired_has() { [ "$(ls "$1/.RECYCLER" | wc -l)" = 1 ] && grep -qs -- "$3" "$1"/.RECYCLER/*/"$2"; }
# snapshot INSTALL: every file's hash and every folder, but for what each run
# writes for itself (log, status file, lock file)
snapshot() {
  (cd "$1" && find . \( -path ./log -o -name UpdateStatus.xml -o -name Velmora.lock \) -prune -o -type f \
    -exec sha256sum {} + | sort -k2 && find . -path ./log -prune -o -type d -print | sort)
}
unchanged_since() { snapshot "$1" | cmp -s - "$2"; }

# update_list VERSION FILE-LINES...: an update list for the application SampleHost.exe
update_list() {
  local version=$1; shift
  printf '<?xml version="1.0" encoding="UTF-8"?>\n<Velmorar>\n'
  printf '    <Updater>\n        <LastUpdateTime>%s</LastUpdateTime>\n    </Updater>\n' "$(date '+%Y-%m-%d %H:%M:%S')"
  printf '    <Application>\n        <Version>%s</Version>\n        <EntryPoint>SampleHost.exe</EntryPoint>\n    </Application>\n' "$version"
  printf '    <Files>\n'
  printf '        %s\n' "$@"
  printf '    </Files>\n</Velmorar>\n'
}
# entry DIR NAME VERSION: a File element for DIR/NAME (NAME with \ separators)
entry() { printf '<File Ver="%s" Name="%s" Size="%s"/>' "$3" "$2" "$(stat -c %s "$1/${2//\\//}")"; }
put() { mkdir -p "$(dirname "$1")"; printf '%s\n' "$2" >"$1"; }

# new_install NAME: V:\NAME\ with the updater, the host and version 1 of the sample files
new_install() {
  local dir="$vdrive/$1"
  rm -rf "$dir"
  mkdir -p "$dir"
  cp "$bin/Velmora.exe" "$dir/Velmora.exe"
  cp "$bin/test_host.exe" "$dir/SampleHost.exe"
  put "$dir/core.dll" "core library, version 1"
  put "$dir/lang/zh.dll" "Chinese texts, version 1"
  put "$dir/readme.txt" "readme, version 1"
  put "$dir/skin/style.css" "body { color: gray; }"
  put "$dir/skin/old-logo.txt" "an image version 2 no longer has"
  update_list 1.0 "$(entry "$dir" core.dll 1.0)" "$(entry "$dir" 'lang\zh.dll' 1.0)" \
    "$(entry "$dir" readme.txt 1.0)" '<File Ver="1.0" Name="skin.zip"/>' >"$dir/UpdateList.xml"
}
# new_release NAME: version 2 of the sample files, served under /NAME/
new_release() {
  local dir="$www/$1"
  rm -rf "$dir" "$work/zip-$1"
  mkdir -p "$dir"
  put "$dir/core.dll" "core library, version 2"
  put "$dir/lang/zh.dll" "Chinese texts, version 2"
  put "$dir/lang/de.dll" "German texts, new in version 2"
  put "$dir/readme.txt" "readme, version 1"
  put "$work/zip-$1/style.css" "body { color: navy; }"
  put "$work/zip-$1/images/logo.txt" "the new logo"
  (cd "$work/zip-$1" && zip -q -r "$dir/skin.zip" .)
}
release_list() { # release_list NAME EXTRA-ENTRIES...: the list for new_release plus extras
  local dir="$www/$1"; shift
  update_list 2.0 "$(entry "$dir" core.dll 2.0)" "$(entry "$dir" 'lang\de.dll' 2.0)" \
    "$(entry "$dir" 'lang\zh.dll' 2.0)" "$(entry "$dir" readme.txt 1.0)" \
    "$(entry "$dir" skin.zip 2.0)" "$@" >"$dir/UpdateList.xml"
}

# start_host INSTALL ARGS...: starts SampleHost.exe; sets host_unix_pid and host_pid (Windows)
start_host() {
  local dir="$vdrive/$1"; shift
  rm -f "$dir/host.pid"
  wine_bounded 300 "V:\\$(basename "$dir")\\SampleHost.exe" "$@" </dev/null >/dev/null 2>&1 &
  host_unix_pid=$!
  host_pid=""
  wait_for 30 test -s "$dir/host.pid" && host_pid=$(tr -d '\r\n' <"$dir/host.pid")
  [ -n "$host_pid" ]
}
# run_updater INSTALL-WINDOWS-PATH URL HOST-PID: one bounded updater run
run_updater() {
  wine_bounded 120 "$1\\Velmora.exe" start "$2" "$3" </dev/null >>"$work/updater.out" 2>&1
}
# run_check INSTALL URL: a planning run, its printed line in $work/check.out
run_check() { wine_bounded 60 "$1\\Velmora.exe" check "$2" </dev/null >"$work/check.out" 2>>"$work/updater.out"; }
# printed_last WORD: the planning run's closing line starts with WORD (the
# download's progress and the log's lines come before it)
printed_last() { [[ "$(tail -n1 "$work/check.out" | tr -d '\r')" == "$1"* ]]; }

# ------------------------------------------------------------------ nginx
start_nginx() {
  local user_line="" port
  [ "$(id -u)" = 0 ] && user_line="user root;"
  for _ in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 20000))
    cat >"$work/nginx/nginx.conf" <<EOF
$user_line
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log warn;
events { worker_connections 64; }
http {
    access_log $work/nginx/access.log;
    types { }
    default_type application/octet-stream;
    client_body_temp_path $work/nginx/tmp/body;
    proxy_temp_path $work/nginx/tmp/proxy;
    fastcgi_temp_path $work/nginx/tmp/fastcgi;
    uwsgi_temp_path $work/nginx/tmp/uwsgi;
    scgi_temp_path $work/nginx/tmp/scgi;
    server {
        listen 127.0.0.1:$port;
        root $www;
        # the same release, slowly, for a run that is killed half-way
        location /slow/ { alias $www/; limit_rate 64k; }
    }
    include $work/nginx/extra-*.conf;
}
EOF
    if nginx -p "$work/nginx/" -c "$work/nginx/nginx.conf" -e "$work/nginx/error.log" 2>"$work/nginx/start.err"; then
      wait_for 5 test -s "$work/nginx/nginx.pid"
      nginx_pid=$(cat "$work/nginx/nginx.pid" 2>/dev/null)
      if wait_for 5 bash -c "exec 3<>/dev/tcp/127.0.0.1/$port" 2>/dev/null; then
        base="http://127.0.0.1:$port"
        return 0
      fi
    fi
  done
  echo "wine-e2e: nginx did not start: $(cat "$work/nginx/start.err")" >&2
  return 1
}

# ------------------------------------------------------------------ scenarios
# Files and a package arrive; the host is stopped and started again.
scenario_update() {
  local d="$vdrive/update" r="$www/update"
  new_install update; new_release update; release_list update
  check "host started" start_host update 60 || return
  local first_host=$host_pid
  snapshot "$d" >"$work/update.before"
  check "planning run ended in time" run_check 'V:\update' "$base/update/"
  check "planning run printed update-available" printed_last update-available
  check "planning run changed nothing" unchanged_since "$d" "$work/update.before"
  check "status says update-available" status_is "$d" update-available
  check "updater run ended in time" run_updater 'V:\update' "$base/update/" "$host_pid"
  for f in core.dll lang/zh.dll lang/de.dll; do check "$f equals the release" same "$d/$f" "$r/$f"; done
  check "package unpacked" same "$d/skin/style.css" "$work/zip-update/style.css"
  check "package subfolder unpacked" same "$d/skin/images/logo.txt" "$work/zip-update/images/logo.txt"
  check "old package folder content removed" missing "$d/skin/old-logo.txt"
  check "package file deleted" missing "$d/skin.zip"
  check "download folder removed" missing "$d/temp"
  check "old core.dll retired to this run's folder of .RECYCLER" retired_has "$d" core.dll "version 1"
  check "lock file kept in the installation" test -f "$d/Velmora.lock"
  check "status says updated" status_is "$d" updated
  for f in core.dll 'lang\de.dll' 'lang\zh.dll' skin.zip; do check "list records $f 2.0" list_has "$d" "$f" 2.0; done
  check "list keeps readme.txt 1.0" list_has "$d" readme.txt 1.0
  check "log says the update finished" log_has "$d" "$(msg kUpdateFinished)"
  check "first host stopped" wait_for 15 gone "$host_unix_pid"
  check "host started again" wait_for 15 lines_at_least "$d/host-started.log" 2
  check "restarted host is a new process" test "$(tail -n1 "$d/host-started.log" | tr -d '\r')" != "$first_host"
  check "restarted host works in the installation" grep -qx 'V:\\update.\?' "$d/host.cwd"
  snapshot "$d" >"$work/update.after"
  check "planning run after the update ended in time" run_check 'V:\update' "$base/update/"
  check "status says up-to-date" status_is "$d" up-to-date
  check "planning run printed up-to-date" printed_last up-to-date
  check "planning run after the update changed nothing" unchanged_since "$d" "$work/update.after"
}

# A file the host holds open as the loader holds a DLL is replaced under it.
scenario_held_open() {
  local d="$vdrive/held" r="$www/held"
  new_install held; new_release held; release_list held
  check "host started holding core.dll and lang\\zh.dll" start_host held 60 share:core.dll 'share:lang\zh.dll' || return
  check "updater run ended in time" run_updater 'V:\held' "$base/held/" "$host_pid"
  check "held core.dll replaced" same "$d/core.dll" "$r/core.dll"
  check "held lang\\zh.dll replaced" same "$d/lang/zh.dll" "$r/lang/zh.dll"
  check "held core.dll retired" retired_has "$d" core.dll "version 1"
  check "no replace error logged" log_lacks "$d" "$(msg kReplaceFailedPrefix)"
  check "log says the update finished" log_has "$d" "$(msg kUpdateFinished)"
}

# scenario_self_update INSTALL NAME: the list names the updater NAME (letter
# case does not count on Windows); Velmora.exe replaces itself while it runs,
# restarts, and the new one finishes.
scenario_self_update() {
  local d="$vdrive/$1" r="$www/$1" name=$2
  new_install "$1"; new_release "$1"
  # a different but still valid program: bytes after the image are ignored
  { cat "$bin/Velmora.exe"; printf 'velmora self-update e2e marker\n'; } >"$r/$name"
  release_list "$1" "$(entry "$r" "$name" 2.0)"
  check "host started" start_host "$1" 60 || return
  check "first updater run ended in time" run_updater "V:\\$1" "$base/$1/" "$host_pid"
  check "restarted updater finished the update" wait_for 60 log_has "$d" "$(msg kUpdateFinished)"
  check "log says the self-update started" log_has "$d" "$(msg kSelfUpdateStarted)"
  # Windows names files without regard to case; the Linux side below Wine does not.
  local updaters
  updaters=$(find "$d" -maxdepth 1 -iname Velmora.exe)
  check "one updater file, not a second one named $name" test "$(grep -c . <<<"$updaters")" = 1
  check "new Velmora.exe in place" same "$updaters" "$r/$name"
  check "log says it replaced itself" log_has "$d" "$(msg kSelfReplaced)"
  check "log says it restarted itself" log_has "$d" "$(msg kSelfRestarted)"
  check "list records $name 2.0" list_has "$d" "$name" 2.0
  check "core.dll updated by the restarted updater" same "$d/core.dll" "$r/core.dll"
}

absent() { [ ! -e "$1" ]; }

# A file held open without delete sharing cannot be moved aside: the run is
# taken back whole, and the list keeps every old version.
scenario_failed_placement() {
  local d="$vdrive/locked" r="$www/locked"
  new_install locked; new_release locked; release_list locked
  check "host started locking core.dll" start_host locked 60 lock:core.dll || return
  check "updater run ended in time" run_updater 'V:\locked' "$base/locked/" "$host_pid"
  check "replace error for core.dll logged" log_has "$d" "$(msg kReplaceFailedPrefix)V:\\locked\\core.dll"
  check "locked core.dll kept" grep -q "version 1" "$d/core.dll"
  check "list keeps core.dll 1.0" list_has "$d" core.dll 1.0
  check "rollback logged" log_has "$d" "$(msg kRunRolledBack)"
  check "lang\\zh.dll put back" grep -q "version 1" "$d/lang/zh.dll"
  check "new lang\\de.dll taken back" absent "$d/lang/de.dll"
  check "list keeps lang\\zh.dll 1.0" list_has "$d" 'lang\zh.dll' 1.0
}

# A run killed half-way through its downloads installs nothing and leaves no
# lock behind; the next run completes the update.
has_nonempty_file() { [ -n "$(find "$1" -type f -size +0 2>/dev/null | head -n1)" ]; }

scenario_killed_run() {
  local d="$vdrive/killed" r="$www/killed"
  new_install killed; new_release killed
  head -c 3000000 /dev/urandom >"$r/big.bin"
  release_list killed "$(entry "$r" big.bin 2.0)"
  check "host started" start_host killed 120 || return
  # wine64 becomes the Windows process itself, so this pid is the updater's
  "$wine" 'V:\killed\Velmora.exe' start "$base/slow/killed/" "$host_pid" </dev/null >/dev/null 2>&1 &
  local updater=$!
  # A file of 1 MiB or more arrives in temp\partial, where a cut-off copy waits to be resumed.
  check "slow download under way" wait_for 40 has_nonempty_file "$d/temp/partial"
  kill -KILL "$updater" 2>/dev/null
  wait "$updater" 2>/dev/null
  check "killed updater gone" wait_for 10 no_updater_running
  check "partial copy kept for the next run" has_nonempty_file "$d/temp/partial"
  check "nothing installed by the killed run" grep -q "version 1" "$d/core.dll"
  check "host still running after the kill" kill -0 "$host_unix_pid"
  check "good run ended in time" run_updater 'V:\killed' "$base/killed/" "$host_pid"
  check "no stale instance lock" log_lacks "$d" "$(msg kAlreadyRunning)"
  for f in core.dll lang/de.dll big.bin; do check "$f equals the release" same "$d/$f" "$r/$f"; done
  check "list records big.bin 2.0" list_has "$d" big.bin 2.0
  check "log says the update finished" log_has "$d" "$(msg kUpdateFinished)"
}

# A patch against the installed core.dll and a compressed copy of lang\de.dll
# (made by the zstd program), each decoded as it arrives: the files they
# become equal the release's, and neither file itself was fetched.
sha() { sha256sum "$1" | cut -d' ' -f1; }
not_requested() { ! grep -q "GET $1 " "$work/nginx/access.log"; }
scenario_patch() {
  local d="$vdrive/patch" r="$www/patch" core de
  new_install patch; new_release patch
  head -c 200000 /dev/urandom >"$d/core.dll"
  { cat "$d/core.dll"; echo "version 2"; } >"$r/core.dll"
  zstd -q --patch-from="$d/core.dll" "$r/core.dll" -o "$r/core.dll.zpatch" 2>/dev/null
  zstd -q "$r/lang/de.dll" -o "$r/lang/de.dll.zst"
  core=$(printf '<File Ver="2.0" Name="core.dll" Size="%s" Sha256="%s"><Patch From="%s" Name="core.dll.zpatch" Size="%s" Sha256="%s"/></File>' \
    "$(stat -c %s "$r/core.dll")" "$(sha "$r/core.dll")" "$(sha "$d/core.dll")" "$(stat -c %s "$r/core.dll.zpatch")" \
    "$(sha "$r/core.dll.zpatch")")
  de=$(printf '<File Ver="2.0" Name="lang\\de.dll" Size="%s" Sha256="%s" Zst="lang\\de.dll.zst" ZstSize="%s" ZstSha256="%s"/>' \
    "$(stat -c %s "$r/lang/de.dll")" "$(sha "$r/lang/de.dll")" "$(stat -c %s "$r/lang/de.dll.zst")" "$(sha "$r/lang/de.dll.zst")")
  update_list 2.0 "$core" "$de" "$(entry "$r" 'lang\zh.dll' 2.0)" "$(entry "$r" readme.txt 1.0)" \
    "$(entry "$r" skin.zip 2.0)" >"$r/UpdateList.xml"
  check "host started" start_host patch 60 || return
  check "updater run ended in time" run_updater 'V:\patch' "$base/patch/" "$host_pid"
  for f in core.dll lang/de.dll; do check "$f equals the release" same "$d/$f" "$r/$f"; done
  check "core.dll came as its patch" grep -q "GET /patch/core.dll.zpatch " "$work/nginx/access.log"
  check "lang\\de.dll came compressed" grep -q "GET /patch/lang/de.dll.zst " "$work/nginx/access.log"
  for f in core.dll lang/de.dll; do check "$f itself not fetched" not_requested "/patch/$f"; done
  check "log says the update finished" log_has "$d" "$(msg kUpdateFinished)"
}

# An installation folder and file names outside the ANSI code page (936 here).
scenario_non_ansi() {
  local name="测试 Ünï" d r="$www/cjk"
  d="$vdrive/$name"
  local locales="$work/locales"
  mkdir -p "$locales"
  localedef -i zh_CN -f UTF-8 "$locales/zh_CN.UTF-8" >/dev/null 2>&1 ||
    { failures+=("zh_CN.UTF-8 locale could not be built"); return; }
  new_install "$name"; new_release cjk
  put "$r/皮肤/图.png" "a picture in a folder with a Chinese name"
  release_list cjk "$(entry "$r" '皮肤\图.png' 2.0)"
  wine_env=(LOCPATH="$locales" LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8)
  check "host started" start_host "$name" 60 || { wine_env=(); return; }
  check "updater run ended in time" run_updater "V:\\$name" "$base/cjk/" "$host_pid"
  wine_env=()
  check "皮肤\\图.png equals the release" same "$d/皮肤/图.png" "$r/皮肤/图.png"
  check "core.dll equals the release" same "$d/core.dll" "$r/core.dll"
  check "list records 皮肤\\图.png 2.0" list_has "$d" '皮肤\图.png' 2.0
  check "log says the update finished" log_has "$d" "$(msg kUpdateFinished)"
}

# Two names of one list that would be one file on Windows: the list is
# refused whole, the installation stays as it was and the host runs on.
scenario_case_clash() {
  local d="$vdrive/clash" r="$www/clash"
  new_install clash; new_release clash
  put "$r/A.txt" "upper"; put "$r/a.txt" "lower"
  release_list clash "$(entry "$r" A.txt 2.0)" "$(entry "$r" a.txt 2.0)"
  check "host started" start_host clash 60 || return
  snapshot "$d" >"$work/clash.before"
  check "updater run ended in time" run_updater 'V:\clash' "$base/clash/" "$host_pid"
  check "log says the list could not be read" log_has "$d" "$(msg kListParseFailed)"
  check "status says list-invalid" status_is "$d" list-invalid
  check "installation unchanged" unchanged_since "$d" "$work/clash.before"
  check "host still running" kill -0 "$host_unix_pid"
}

# The example host as the installation's entry point: it starts the updater,
# is closed by it, started again, and then reads how the update went.
scenario_host_example() {
  local d="$vdrive/example" r="$www/example" restarted
  new_install example; new_release example; release_list example
  cp "$bin/host_example.exe" "$d/SampleHost.exe"
  wine_bounded 120 'V:\example\SampleHost.exe' "$base/example/" </dev/null >/dev/null 2>&1 &
  local first=$!
  check "update finished" wait_for 60 log_has "$d" "$(msg kUpdateFinished)"
  check "core.dll equals the release" same "$d/core.dll" "$r/core.dll"
  check "first host stopped" wait_for 20 gone "$first"
  check "restarted host read outcome=updated" wait_for 30 grep -qsx 'outcome=updated' "$d/host_example.log"
  restarted=$(pids_matching '*V:\\example\\SampleHost.exe*')
  check "restarted host running" test -n "$restarted"
  [ -n "$restarted" ] && kill -TERM $restarted 2>/dev/null
}

# A junction planted in the retire folder, pointing outside the installation:
# what the run retires or prunes there stays inside the installation.
scenario_retire_junction() {
  local d="$vdrive/planted" outside="$vdrive/outside" link='V:\planted\.RECYCLER\20000101-000000'
  new_install planted; new_release planted; release_list planted
  rm -rf "$outside"; put "$outside/keep.txt" "not the updater's"
  mkdir -p "$d/.RECYCLER"
  wine_bounded 30 cmd /c mklink /J "$link" 'V:\outside' >/dev/null 2>&1
  # Wine 8 answers mklink /J with success and makes nothing.
  [ -e "$d/.RECYCLER/20000101-000000" ] || { skip_reason="this Wine makes no junctions (mklink /J)"; return; }
  snapshot "$outside" >"$work/outside.before"
  check "host started" start_host planted 60 || return
  check "updater run ended in time" run_updater 'V:\planted' "$base/planted/" "$host_pid"
  check "log says the update finished" log_has "$d" "$(msg kUpdateFinished)"
  check "nothing written or removed outside" unchanged_since "$outside" "$work/outside.before"
}

tls="$work/tls"
# make_tls: in $tls, once, two test authorities (ca, other) and server
# certificates from ca for localhost (right) and for another name (wrong)
make_tls() {
  local key=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes) ca san cert
  [ -s "$tls/wrong.pem" ] && return
  mkdir -p "$tls"
  for ca in ca other; do
    openssl req -x509 "${key[@]}" -keyout "$tls/$ca.key" -out "$tls/$ca.pem" -days 1 -subj "/CN=Velmora Test $ca" \
      >>"$tls/openssl.out" 2>&1
  done
  for san in right=DNS:localhost wrong=DNS:elsewhere.example; do
    cert=${san%%=*}
    openssl req "${key[@]}" -keyout "$tls/$cert.key" -out "$tls/$cert.csr" -subj "/CN=$cert" >>"$tls/openssl.out" 2>&1
    openssl x509 -req -in "$tls/$cert.csr" -CA "$tls/ca.pem" -CAkey "$tls/ca.key" -CAcreateserial -days 1 \
      -extfile <(echo "subjectAltName=${san#*=}") -out "$tls/$cert.pem" >>"$tls/openssl.out" 2>&1
  done
  test -s "$tls/other.pem" -a -s "$tls/right.pem" -a -s "$tls/wrong.pem"
}
# free_port TAKEN...: a port on 127.0.0.1 that nobody listens on, none of TAKEN nor nginx's first
free_port() {
  local port
  for _ in $(seq 20); do
    port=$((20000 + RANDOM % 20000))
    [[ "$base $* " != *[:\ ]$port\ * ]] && ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  done
  echo "$port"
}

# https with UpdateCA.pem beside Velmora.exe, the only authority trusted: the
# list is refused when it names another authority, for a certificate with
# another name, and with VELMORA_TLS_NO_VERIFY=1 too; the installation stays
# as it was. libcurl's own check of UpdateCA.pem matches DNS names only (not
# IP addresses), hence localhost. Without UpdateCA.pem the check is left to
# Schannel, which under Wine checks neither chain nor name: that row is only
# reported.
scenario_https() {
  local r="$www/https" row name cert ca var outcome d port ports=()
  check "certificates made" make_tls || return
  new_release https; release_list https
  # one https listener per server certificate, added to the running nginx
  for cert in right wrong; do
    port=$(free_port "${ports[@]}")
    ports+=("$port")
    printf 'server {\n    listen 127.0.0.1:%s ssl;\n    root %s;\n    ssl_certificate %s;\n    ssl_certificate_key %s;\n}\n' \
      "$port" "$www" "$tls/$cert.pem" "$tls/$cert.key"
  done >"$work/nginx/extra-https.conf"
  kill -HUP "$nginx_pid"
  for port in "${ports[@]}"; do
    check "nginx listens for https on $port" wait_for 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$port" 2>/dev/null || return
  done
  for row in "https-ca right ca - updated" "https-other right other - list-download-failed" \
    "https-name wrong ca - list-download-failed" "https-switch right other VELMORA_TLS_NO_VERIFY=1 list-download-failed" \
    "https-system right - - reported"; do
    read -r name cert ca var outcome <<<"$row"
    d="$vdrive/$name"
    new_install "$name"
    [ "$ca" = - ] || cp "$tls/$ca.pem" "$d/UpdateCA.pem"
    cp "$d/UpdateList.xml" "$work/$name.list"
    port=${ports[0]}; [ "$cert" = right ] || port=${ports[1]}
    check "$name: host started" start_host "$name" 60 || continue
    [ "$var" = - ] || wine_env=("$var")
    check "$name: updater run ended in time" run_updater "V:\\$name" "https://localhost:$port/https/" "$host_pid"
    wine_env=()
    if [ "$outcome" = reported ]; then
      echo "wine-e2e:      note: without UpdateCA.pem (Schannel checks alone) an unknown authority gave:" \
        "$(sed -n 's|.*<Outcome>\(.*\)</Outcome>.*|\1|p' "$d/UpdateStatus.xml")"
      continue
    fi
    check "$name: status outcome $outcome" status_is "$d" "$outcome"
    if [ "$outcome" = updated ]; then
      check "$name: log says the update finished" log_has "$d" "$(msg kUpdateFinished)"
      check "$name: core.dll equals the release" same "$d/core.dll" "$r/core.dll"
    else
      check "$name: log says the list download failed" log_has "$d" "$(msg kListDownloadFailed)"
      check "$name: core.dll unchanged" grep -q "version 1" "$d/core.dll"
      check "$name: list unchanged" same "$d/UpdateList.xml" "$work/$name.list"
      check "$name: host still running" kill -0 "$host_unix_pid"
    fi
  done
}

# ------------------------------------------------------------------ proxy
# The user's proxy setting as WinHTTP reads it (WinHttpGetIEProxyConfigForCurrentUser):
# the binary DefaultConnectionSettings of Internet Settings\Connections, little
# endian: version 0x46, a change counter, flags (1 direct, 2 static proxy,
# 4 script, 8 auto-detect), then proxy, bypass list and script URL, each a
# length and ANSI text. Without the value Wine auto-detects, and its WPAD
# lookups would hold every run for seconds.
le32() { printf '%02x%02x%02x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
hex_field() { le32 ${#1}; printf '%s' "$1" | od -An -tx1 -v | tr -d ' \n'; }
# set_system_proxy [PROXY [BYPASS]]: the static proxy and its bypass list; direct without PROXY
set_system_proxy() {
  local flags=1; [ -n "${1:-}" ] && flags=3
  timeout 60 "$wine" reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections' \
    /v DefaultConnectionSettings /t REG_BINARY /f \
    /d "$(le32 0x46)$(le32 1)$(le32 $flags)$(hex_field "${1:-}")$(hex_field "${2:-}")$(hex_field '')" >/dev/null 2>&1
}
# start_proxy: a logging HTTP proxy on 127.0.0.1 that forwards absolute-URI
# requests to 127.0.0.1 with the connection closed after each answer, writing
# each request line to $work/proxy.log; sets proxy_port
start_proxy() {
  : >"$work/proxy.log"
  python3 -u - "$work/proxy.log" >"$work/proxy.port" 2>"$work/proxy.err" <<'PY' &
import socket, sys, threading
log = open(sys.argv[1], "a", buffering=1)
def serve(client):
    with client:
        client.settimeout(30)
        head = b""
        while b"\r\n\r\n" not in head:
            data = client.recv(4096)
            if not data: return
            head += data
        line, _, rest = head.partition(b"\r\n")
        log.write(line.decode("latin-1") + "\n")
        method, target, version = line.split(b" ")
        authority, _, path = target[len(b"http://"):].partition(b"/")
        kept = [h for h in rest.split(b"\r\n\r\n")[0].split(b"\r\n")
                if h and not h.lower().startswith((b"connection:", b"proxy-connection:"))]
        with socket.create_connection(("127.0.0.1", int(authority.split(b":")[1])), timeout=30) as server:
            server.sendall(b"\r\n".join([method + b" /" + path + b" " + version] + kept + [b"Connection: close", b"", b""]))
            while data := server.recv(65536): client.sendall(data)
listener = socket.create_server(("127.0.0.1", 0))
print(listener.getsockname()[1])
while True:
    threading.Thread(target=serve, args=(listener.accept()[0],), daemon=True).start()
PY
  proxy_pid=$!
  wait_for 10 test -s "$work/proxy.port" && proxy_port=$(cat "$work/proxy.port")
}
proxy_saw() { grep -qF -- "$1" "$work/proxy.log"; }
proxy_saw_nothing() { [ ! -s "$work/proxy.log" ]; }

# The user's static proxy setting carries the run through the logging proxy;
# with <local> in its bypass list the run goes past it to 127.0.0.1.
scenario_system_proxy() {
  local d="$vdrive/proxy" r="$www/proxy" row bypass
  new_release proxy; release_list proxy
  check "logging proxy started" start_proxy || return
  for row in through bypassed; do
    bypass=""; [ "$row" = bypassed ] && bypass='<local>'
    new_install proxy
    : >"$work/proxy.log"
    set_system_proxy "127.0.0.1:$proxy_port" "$bypass"
    check "$row: host started" start_host proxy 60 || break
    check "$row: updater run ended in time" run_updater 'V:\proxy' "$base/proxy/" "$host_pid"
    check "$row: status says updated" status_is "$d" updated
    check "$row: core.dll equals the release" same "$d/core.dll" "$r/core.dll"
    if [ "$row" = through ]; then
      check "$row: the proxy carried the list" proxy_saw "GET $base/proxy/UpdateList.xml HTTP/1.1"
      check "$row: the proxy carried core.dll" proxy_saw "GET $base/proxy/core.dll HTTP/1.1"
      check "$row: the log names the proxy" grep -aqF "system proxy: 127.0.0.1:$proxy_port" "$d"/log/*.log
    else
      check "$row: the proxy saw nothing" proxy_saw_nothing
    fi
    check "$row: host started again" wait_for 30 lines_at_least "$d/host-started.log" 2
    kill -TERM $(pids_matching '*V:\\proxy\\SampleHost.exe*') 2>/dev/null
  done
  set_system_proxy
}

# HTTP/2 over https from an nginx that offers it (ALPN "h2"), UpdateCA.pem
# trusted: the list and every file of the update come over HTTP/2.0, as
# nginx's log of each request's protocol and ALPN choice shows, and the update
# completes. curl 7.88 offers ALPN through Schannel only from Windows 8.1 on
# and never when it finds Wine (ntdll exports wine_get_version), and Wine 8.0
# reports Windows 7: there every request is HTTP/1.1 with no ALPN, and the row
# checks the update alone and says why HTTP/2 was not shown. (Wine's Schannel
# itself does negotiate h2 when curl offers it.)
scenario_http2() {
  local d="$vdrive/http2" r="$www/http2" log="$work/nginx/http2.log" port f
  check "certificates made" make_tls || return
  new_install http2; new_release http2; release_list http2
  cp "$tls/ca.pem" "$d/UpdateCA.pem"
  port=$(free_port)
  cat >"$work/nginx/extra-http2.conf" <<EOF
log_format velmora_protocol '\$request_uri \$server_protocol alpn=\$ssl_alpn_protocol \$status';
server {
    listen 127.0.0.1:$port ssl http2;
    root $www;
    ssl_certificate $tls/right.pem;
    ssl_certificate_key $tls/right.key;
    access_log $log velmora_protocol;
}
EOF
  kill -HUP "$nginx_pid"
  check "nginx listens for https with HTTP/2 on $port" wait_for 10 bash -c "exec 3<>/dev/tcp/127.0.0.1/$port" 2>/dev/null ||
    return
  check "host started" start_host http2 60 || return
  check "updater run ended in time" run_updater 'V:\http2' "https://localhost:$port/http2/" "$host_pid"
  check "status outcome updated" status_is "$d" updated
  check "log says the update finished" log_has "$d" "$(msg kUpdateFinished)"
  for f in core.dll lang/zh.dll lang/de.dll; do check "$f equals the release" same "$d/$f" "$r/$f"; done
  check "package unpacked" same "$d/skin/style.css" "$work/zip-http2/style.css"
  local fetched=(UpdateList.xml core.dll lang/de.dll lang/zh.dll skin.zip)
  for f in "${fetched[@]}"; do check "$f fetched from the HTTP/2 server" grep -q "^/http2/$f HTTP/" "$log"; done
  if [ -s "$log" ] && ! grep -qvE ' HTTP/1[.]1 alpn=-? ' "$log"; then
    skip_reason="no HTTP/2 under Wine: every request was HTTP/1.1 without ALPN, which curl 7.88 offers neither under Wine nor before Windows 8.1"
    return
  fi
  for f in "${fetched[@]}"; do check "$f fetched over HTTP/2.0 (ALPN h2)" grep -q "^/http2/$f HTTP/2[.]0 alpn=h2 200\$" "$log"; done
}

# ------------------------------------------------------------------ main
start=$(date +%s)
"$wineserver" -p
timeout 180 "$wine" wineboot --init >/dev/null 2>&1 || echo "wine-e2e: wineboot did not finish cleanly, going on" >&2
# Without a display Wine makes no windows at all; its null display driver
# keeps them in memory, so hosts have windows that get WM_CLOSE.
timeout 60 "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1 ||
  echo "wine-e2e: could not choose Wine's null display driver; hosts will have no window" >&2
# The desktop that wineboot started without a display can stay broken for
# the session: a fresh server, and wineboot starts a new desktop with the
# null driver here, whose output goes nowhere (a desktop that a test program
# started would hold that program's output open, and its runner would wait).
timeout 20 "$wineserver" -k >/dev/null 2>&1
"$wineserver" -p
timeout 60 "$wine" wineboot >/dev/null 2>&1 || echo "wine-e2e: wineboot did not restart cleanly, going on" >&2
ln -s "$vdrive" "$WINEPREFIX/dosdevices/v:"
set_system_proxy || echo "wine-e2e: could not store direct proxy settings; runs may wait for WPAD" >&2
start_nginx || exit 1

passed=0 failed=0 skipped=0
run_scenario() { # run_scenario NAME FUNCTION ARGS...: a scenario may set skip_reason
  local t0=$(date +%s) verdict
  failures=() skip_reason=""
  echo "wine-e2e: -- $1"
  "${@:2}"
  # A restarted updater or one left by a failure would hold the installation's lock.
  check "no updater left running" wait_for 60 no_updater_running
  if [ -n "$skip_reason" ] && [ ${#failures[@]} -eq 0 ]; then
    verdict="SKIP ($skip_reason)"; skipped=$((skipped + 1))
  elif [ ${#failures[@]} -eq 0 ]; then
    verdict=PASS; passed=$((passed + 1))
  else
    verdict=FAIL; failed=$((failed + 1))
  fi
  for f in "${failures[@]}"; do echo "wine-e2e:      failed check: $f"; done
  echo "wine-e2e: $verdict: $1 ($(( $(date +%s) - t0 )) s)"
}

run_scenario "update with files and a zip package, host stopped and started" scenario_update
run_scenario "file held open by the host replaced" scenario_held_open
run_scenario "self-update of the running Velmora.exe" scenario_self_update self Velmora.exe
run_scenario "self-update selected by velmora.exe in lower case" scenario_self_update selfcase velmora.exe
run_scenario "failed placement of a file locked without delete sharing" scenario_failed_placement
run_scenario "run killed half-way, then a good run" scenario_killed_run
run_scenario "a patch against the installed file and a compressed copy, decoded as they arrive" scenario_patch
run_scenario "installation and file names outside the ANSI code page (936)" scenario_non_ansi
run_scenario "list with A.txt and a.txt refused whole" scenario_case_clash
run_scenario "example host starts the updater, is restarted and reads the outcome" scenario_host_example
run_scenario "junction planted in the retire folder" scenario_retire_junction
run_scenario "https: UpdateCA.pem alone trusted; other authority, other name and old switch refused" scenario_https
run_scenario "the user's static system proxy, and its <local> bypass" scenario_system_proxy
run_scenario "HTTP/2 over https: the list and the files of an update from an nginx offering h2" scenario_http2

echo "wine-e2e: stage took $(( $(date +%s) - start )) s"
echo "wine-e2e: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
