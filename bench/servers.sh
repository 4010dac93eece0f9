# Loopback servers for ./run bench, sourced by run: vsftpd and nginx, each
# in the foreground on 127.0.0.1 with a configuration of its own under the
# bench folder. Both are native, forking or event driven, and serve files
# with sendfile, so the client's side is what a run measures.

bench_servers=()

free_port() {
    /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

wait_for_port() {
    local port=$1
    for _ in $(seq 100); do
        /usr/bin/python3 -c 'import socket, sys; socket.create_connection(("127.0.0.1", int(sys.argv[1])), 1)' \
            "$port" 2>/dev/null && return 0
        sleep 0.1
    done
    return 1
}

# Anonymous FTP: every upload goes to up/, which only the ftp user may
# write, since vsftpd will not chroot into a root its user can write. With a
# certificate and key, a second server (its own configuration and log,
# named by `name`) demands explicit TLS on both connections.
start_vsftpd() {
    local dir=$1 root=$2 port=$3 name=${4:-vsftpd} cert=${5:-} key=${6:-}
    mkdir -p /var/run/vsftpd/empty
    chown -R ftp: "$root/up"
    cat >"$dir/$name.conf" <<EOF
listen=YES
listen_address=127.0.0.1
listen_port=$port
background=NO
anonymous_enable=YES
local_enable=NO
no_anon_password=YES
anon_root=$root
write_enable=YES
anon_upload_enable=YES
anon_mkdir_write_enable=YES
anon_other_write_enable=YES
anon_umask=022
connect_from_port_20=NO
pasv_enable=YES
pasv_address=127.0.0.1
port_enable=YES
dirlist_enable=YES
hide_ids=NO
xferlog_enable=NO
max_clients=0
max_per_ip=0
delay_failed_login=0
delay_successful_login=0
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
secure_chroot_dir=/var/run/vsftpd/empty
ftp_username=ftp
idle_session_timeout=900
data_connection_timeout=900
EOF
    # require_ssl_reuse=NO: Wine's SChannel never resumes a TLS session.
    [ -z "$cert" ] || cat >>"$dir/$name.conf" <<EOF
ssl_enable=YES
allow_anon_ssl=YES
force_anon_logins_ssl=YES
force_anon_data_ssl=YES
require_ssl_reuse=NO
rsa_cert_file=$cert
rsa_private_key_file=$key
EOF
    /usr/sbin/vsftpd "$dir/$name.conf" >"$dir/$name.log" 2>&1 &
    bench_servers+=($!)
    wait_for_port "$port"
}

start_nginx() {
    local dir=$1 root=$2 port=$3
    mkdir -p "$dir/nginx-temp"
    cat >"$dir/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/nginx-error.log;
events { worker_connections 256; }
http {
    access_log off;
    sendfile on;
    default_type text/plain;
    client_body_temp_path $dir/nginx-temp;
    proxy_temp_path $dir/nginx-temp;
    fastcgi_temp_path $dir/nginx-temp;
    uwsgi_temp_path $dir/nginx-temp;
    scgi_temp_path $dir/nginx-temp;
    server {
        listen 127.0.0.1:$port;
        root $root;
    }
}
EOF
    /usr/sbin/nginx -c "$dir/nginx.conf" -e "$dir/nginx-error.log" >"$dir/nginx.log" 2>&1 &
    bench_servers+=($!)
    wait_for_port "$port"
}

stop_bench_servers() {
    for pid in "${bench_servers[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${bench_servers[@]}"; do wait "$pid" 2>/dev/null || true; done
    bench_servers=()
}
