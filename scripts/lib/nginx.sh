# Shell helpers to run nginx on loopback with a config of our own (sourced by scripts).

# qb_nginx_start PREFIX ROOT PORT [EXTRA_HTTP_DIRECTIVES]
qb_nginx_start() {
    local prefix=$1 root=$2 port=$3 extra=${4:-}
    mkdir -p "$prefix"
    local user_line=""
    # As root the workers would switch to nobody, who may not read the served folder.
    [ "$(id -u)" -eq 0 ] && user_line="user root;"
    cat > "$prefix/nginx.conf" <<CONF
$user_line
worker_processes 1;
pid $prefix/nginx.pid;
error_log $prefix/error.log;
events { worker_connections 256; }
http {
    access_log $prefix/access.log;
    client_body_temp_path $prefix/body;
    proxy_temp_path $prefix/proxy;
    fastcgi_temp_path $prefix/fastcgi;
    uwsgi_temp_path $prefix/uwsgi;
    scgi_temp_path $prefix/scgi;
    types { application/json json; }
    default_type application/octet-stream;
    sendfile on;
    tcp_nopush on;
    keepalive_requests 100000;
    $extra
    server { listen 127.0.0.1:$port; root $root; }
}
CONF
    /usr/sbin/nginx -p "$prefix" -c "$prefix/nginx.conf" -e "$prefix/error.log"
    local i
    for i in $(seq 100); do
        curl -s -o /dev/null "http://127.0.0.1:$port/" && return 0
        sleep 0.1
    done
    echo "nginx did not start; see $prefix/error.log" >&2
    return 1
}

# qb_free_port: prints a loopback port that nothing listens on now, or fails.
qb_free_port() {
    local candidate
    for _ in $(seq 50); do
        candidate=$((20000 + RANDOM % 30000))
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then
            echo "$candidate"
            return 0
        fi
    done
    return 1
}

# qb_nginx_stop PREFIX
qb_nginx_stop() {
    local prefix=$1
    [ -f "$prefix/nginx.pid" ] || return 0
    /usr/sbin/nginx -p "$prefix" -c "$prefix/nginx.conf" -e "$prefix/error.log" -s stop 2>/dev/null || true
}
