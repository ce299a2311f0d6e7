# A private nginx beside our server for the benchmarks (source it after tools/lib-serve.sh, which gives
# scratch_dir and the EXIT clean-up). No root configuration is touched: the config, pid file, logs and
# temporary folders live in a scratch folder.
#
#   need_nginx PACKAGE...           installs the Debian packages when nginx or a listed module is missing
#   start_nginx FOLDER TOP HTTP [LOCATION]
#                                   serves FOLDER on a free loopback port; TOP goes before the events block
#                                   (modules, workers), HTTP inside the http block, LOCATION inside the
#                                   location of "/"; sets $nginxPort and stops nginx on exit

nginxPid=
nginxPort=

need_nginx() {
    command -v nginx >/dev/null || PATH=$PATH:/usr/sbin
    local package missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    if ((${#missing[@]})); then
        echo "installing ${missing[*]}"
        local sudo=()
        [[ $(id -u) -ne 0 ]] && sudo=(sudo)
        DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
    fi
    command -v nginx >/dev/null || { echo "missing: nginx"; exit 1; }
}

stop_nginx() {
    [[ -z $nginxPid ]] || kill "$nginxPid" 2>/dev/null || true
    cleanup
}

start_nginx() {
    local folder=$1 top=$2 http=$3 location=${4:-} conf
    scratch_dir conf
    # nginx workers read the folder as an unprivileged user.
    chmod 755 "$conf"
    nginxPort=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    cat > "$conf/nginx.conf" <<CONF
$top
daemon off;
pid $conf/nginx.pid;
error_log $conf/error.log;
events { worker_connections 4096; }
http {
    access_log off;
    client_body_temp_path $conf/body;
    proxy_temp_path $conf/proxy;
    fastcgi_temp_path $conf/fastcgi;
    uwsgi_temp_path $conf/uwsgi;
    scgi_temp_path $conf/scgi;
    $http
    server { listen 127.0.0.1:$nginxPort; root $folder; location / { $location } }
}
CONF
    nginx -c "$conf/nginx.conf" -p "$conf" &
    nginxPid=$!
    trap stop_nginx EXIT
    for _ in $(seq 100); do
        curl -s -o /dev/null "http://127.0.0.1:$nginxPort/" && return
        sleep 0.05
    done
    echo "FAIL: nginx did not start"
    exit 1
}
