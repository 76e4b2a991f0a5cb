#!/usr/bin/env bash
# Demonstration update: builds Velmora, installs a sample application at version 1
# in a temporary folder, serves version 2 from a private nginx on 127.0.0.1, runs
# the updater and shows what happened. Everything it starts, it stops again.
set -euo pipefail
export LC_ALL=C
cd "$(dirname "$0")/.."
ROOT_DIR=$(pwd)

say() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

bash scripts/install-deps.sh

say "Building Velmora and the sample host"
# A build folder of its own: the test stages configure build/ their way, and
# either script may run first on a fresh machine.
BUILD="$ROOT_DIR/build-demo"
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELMORA_TINYXML2_PREFIX="$(bash scripts/build-linux-deps.sh || true)" >/dev/null
cmake --build "$BUILD" -j"$(nproc)" --target Velmora test_host >/dev/null
UPDATER="$BUILD/src/driver/Velmora"
HOST_BIN="$BUILD/tools/test_host"
[ -x "$UPDATER" ] || UPDATER=$(find "$BUILD" -type f -name Velmora -perm -u+x | head -n1)
[ -x "$UPDATER" ] && [ -x "$HOST_BIN" ] || { echo "demo: build products not found" >&2; exit 1; }

WORK=$(mktemp -d /tmp/velmora-demo-XXXXXX)
chmod 755 "$WORK"
APP="$WORK/app"
RELEASE="$WORK/release"
NGINX_DIR="$WORK/nginx"
NGINX_PID=""

pid_runs() { # pid_runs PID PATH: true when PID is alive and runs the program PATH
    [ -n "$1" ] && [ "$(readlink "/proc/$1/exe" 2>/dev/null)" = "$2" ] &&
        [ "$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null)" != Z ]
}

cleanup() {
    local pid i
    if [ -n "$NGINX_PID" ] && [ "$(cat "/proc/$NGINX_PID/comm" 2>/dev/null)" = nginx ]; then
        kill -TERM "$NGINX_PID" 2>/dev/null || true
        for ((i = 0; i < 50; i++)); do [ -e "/proc/$NGINX_PID" ] || break; sleep 0.1; done
    fi
    # every host this demonstration started, by the pids it recorded
    if [ -f "$APP/host-started.log" ]; then
        while read -r pid; do
            if pid_runs "$pid" "$APP/SampleHost"; then kill -KILL "$pid" 2>/dev/null || true; fi
        done <"$APP/host-started.log"
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT

list() { # list VERSION FILE-LINES...: an update list with the sample header
    local version="$1"; shift
    printf '<?xml version="1.0" encoding="UTF-8"?>\n<Velmorar>\n'
    printf '    <Updater>\n        <LastUpdateTime>%s</LastUpdateTime>\n    </Updater>\n' "$(date '+%Y-%m-%d %H:%M:%S')"
    printf '    <Application>\n        <Version>%s</Version>\n        <EntryPoint>SampleHost</EntryPoint>\n    </Application>\n' "$version"
    printf '    <Files>\n'
    printf '        %s\n' "$@"
    printf '    </Files>\n</Velmorar>\n'
}
size() { stat -c %s "$1"; }

say "Sample installation at version 1: $APP"
mkdir -p "$APP/lang" "$APP/skin"
cp "$UPDATER" "$APP/Velmora"
cp "$HOST_BIN" "$APP/SampleHost"
echo "core library, version 1" >"$APP/core.dll"
echo "Chinese texts, version 1" >"$APP/lang/zh.dll"
echo "readme, version 1" >"$APP/readme.txt"
echo "body { color: gray; }   /* version 1 */" >"$APP/skin/style.css"
echo "an image that version 2 no longer has" >"$APP/skin/old-logo.txt"
list 1.0 \
    "<File Ver=\"1.0\" Name=\"core.dll\" Size=\"$(size "$APP/core.dll")\"/>" \
    "<File Ver=\"1.0\" Name=\"lang\\zh.dll\" Size=\"$(size "$APP/lang/zh.dll")\"/>" \
    "<File Ver=\"1.0\" Name=\"readme.txt\" Size=\"$(size "$APP/readme.txt")\"/>" \
    "<File Ver=\"1.0\" Name=\"skin.zip\"/>" >"$APP/UpdateList.xml"
(cd "$APP" && find . -type f ! -name Velmora ! -name SampleHost -exec sha256sum {} + | sort -k2) >"$WORK/before.sha256"
for f in core.dll lang/zh.dll readme.txt skin/style.css skin/old-logo.txt; do
    printf '    %-22s %s\n' "$f" "$(cat "$APP/$f")"
done

say "Release at version 2: $RELEASE"
mkdir -p "$RELEASE/lang" "$WORK/skin-src/images"
echo "core library, version 2" >"$RELEASE/core.dll"
echo "Chinese texts, version 2" >"$RELEASE/lang/zh.dll"
echo "German texts, new in version 2" >"$RELEASE/lang/de.dll"
echo "readme, version 1" >"$RELEASE/readme.txt"
echo "body { color: navy; }   /* version 2 */" >"$WORK/skin-src/style.css"
echo "the new logo" >"$WORK/skin-src/images/logo.txt"
if command -v zip >/dev/null; then
    (cd "$WORK/skin-src" && zip -q -r "$RELEASE/skin.zip" .)
else
    (cd "$WORK/skin-src" && python3 -c 'import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED) as z:
    for d, _, fs in os.walk("."):
        for f in fs: z.write(os.path.join(d, f))' "$RELEASE/skin.zip")
fi
list 2.0 \
    "<File Ver=\"2.0\" Name=\"core.dll\" Size=\"$(size "$RELEASE/core.dll")\"/>" \
    "<File Ver=\"2.0\" Name=\"lang\\de.dll\" Size=\"$(size "$RELEASE/lang/de.dll")\"/>" \
    "<File Ver=\"2.0\" Name=\"lang\\zh.dll\" Size=\"$(size "$RELEASE/lang/zh.dll")\"/>" \
    "<File Ver=\"1.0\" Name=\"readme.txt\" Size=\"$(size "$RELEASE/readme.txt")\"/>" \
    "<File Ver=\"2.0\" Name=\"skin.zip\" Size=\"$(size "$RELEASE/skin.zip")\"/>" >"$RELEASE/UpdateList.xml"
sed 's/^/    /' "$RELEASE/UpdateList.xml"

say "Serving the release with nginx on 127.0.0.1"
mkdir -p "$NGINX_DIR/tmp"
user_line=""
[ "$(id -u)" = 0 ] && user_line="user root;"
started=0
for try in 1 2 3 4 5; do
    PORT=$((20000 + RANDOM % 20000))
    cat >"$NGINX_DIR/nginx.conf" <<EOF
$user_line
worker_processes 1;
pid $NGINX_DIR/nginx.pid;
error_log $NGINX_DIR/error.log warn;
events { worker_connections 64; }
http {
    log_format demo '\$request_uri \$status \$body_bytes_sent';
    access_log $NGINX_DIR/access.log demo;
    types { }
    default_type application/octet-stream;
    client_body_temp_path $NGINX_DIR/tmp/body;
    proxy_temp_path $NGINX_DIR/tmp/proxy;
    fastcgi_temp_path $NGINX_DIR/tmp/fastcgi;
    uwsgi_temp_path $NGINX_DIR/tmp/uwsgi;
    scgi_temp_path $NGINX_DIR/tmp/scgi;
    server {
        listen 127.0.0.1:$PORT;
        root $RELEASE;
    }
}
EOF
    if nginx -p "$NGINX_DIR/" -c "$NGINX_DIR/nginx.conf" -e "$NGINX_DIR/error.log" 2>"$NGINX_DIR/start.err"; then
        for ((i = 0; i < 50; i++)); do [ -s "$NGINX_DIR/nginx.pid" ] && break; sleep 0.1; done
        NGINX_PID=$(cat "$NGINX_DIR/nginx.pid" 2>/dev/null || true)
        for ((i = 0; i < 50; i++)); do
            if (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; then started=1; break; fi
            sleep 0.1
        done
        [ "$started" = 1 ] && break
    fi
done
[ "$started" = 1 ] || { echo "demo: nginx did not start: $(cat "$NGINX_DIR/start.err")" >&2; exit 1; }
BASE_URL="http://127.0.0.1:$PORT/"
echo "base URL: $BASE_URL"

say "Starting the host application (version 1)"
"$APP/SampleHost" 300 </dev/null >/dev/null 2>&1 &
HOST_PID=$!
disown "$HOST_PID"  # the updater kills it; no job report from this shell
for ((i = 0; i < 50; i++)); do [ -s "$APP/host-started.log" ] && break; sleep 0.1; done
echo "host pid: $HOST_PID"

say "Running: Velmora start $BASE_URL $HOST_PID"
set +e
(cd "$WORK" && timeout --kill-after=5 120 "$APP/Velmora" start "$BASE_URL" "$HOST_PID" </dev/null >"$WORK/updater-stdout.txt" 2>&1)
rc=$?
set -e
echo "exit code: $rc"
# the host is started without waiting for it: give it a moment to record itself
for ((i = 0; i < 50; i++)); do [ "$(wc -l <"$APP/host-started.log")" -ge 2 ] && break; sleep 0.1; done

say "Requests nginx served"
sed 's/^/    /' "$NGINX_DIR/access.log"

say "The log (log/$(date +%F).log, GBK shown as UTF-8)"
for f in "$APP"/log/*.log; do iconv -f GBK -t UTF-8 "$f" | sed 's/^/    /'; done

say "Files that changed"
(cd "$APP" && find . -path ./.RECYCLER -prune -o -type f ! -name Velmora ! -name SampleHost \
    ! -path './log/*' ! -name host-started.log ! -name host.pid -exec sha256sum {} + | sort -k2) >"$WORK/after.sha256"
awk 'NR == FNR { before[$2] = $1; next }
     { after[$2] = $1 }
     END {
         for (f in after) if (!(f in before)) print "    new       " substr(f, 3)
         for (f in after) if ((f in before) && before[f] != after[f]) print "    changed   " substr(f, 3)
         for (f in before) if (!(f in after)) print "    removed   " substr(f, 3)
         for (f in before) if ((f in after) && before[f] == after[f]) print "    unchanged " substr(f, 3)
     }' "$WORK/before.sha256" "$WORK/after.sha256" | sort -k1,1 -s
echo
for f in core.dll lang/zh.dll lang/de.dll readme.txt skin/style.css skin/images/logo.txt; do
    printf '    %-22s %s\n' "$f" "$(cat "$APP/$f" 2>/dev/null || echo '(missing)')"
done
printf '    %-22s %s\n' "skin.zip" "$([ -e "$APP/skin.zip" ] && echo present || echo 'deleted after unpacking')"
printf '    %-22s %s\n' "skin/old-logo.txt" "$([ -e "$APP/skin/old-logo.txt" ] && echo present || echo 'gone with the old skin folder')"
printf '    %-22s %s\n' "temp/" "$([ -e "$APP/temp" ] && echo present || echo removed)"

say "Retired copies in .RECYCLER/"
(cd "$APP/.RECYCLER" && find . -type f | sort | while read -r f; do printf '    %-22s %s\n' "${f#./}" "$(cat "$f")"; done)

say "Local list after the update"
sed 's/^/    /' "$APP/UpdateList.xml"

say "The host"
mapfile -t starts <"$APP/host-started.log"
echo "    started as pid ${starts[0]}: $(pid_runs "${starts[0]}" "$APP/SampleHost" && echo 'still running' || echo 'stopped by the updater')"
if [ "${#starts[@]}" -ge 2 ]; then
    echo "    started again as pid ${starts[1]}: $(pid_runs "${starts[1]}" "$APP/SampleHost" && echo running || echo 'not running')"
else
    echo "    not started again"
fi

say "Done; stopping nginx and the host, removing $WORK"
