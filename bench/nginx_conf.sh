# shellcheck shell=bash
# Sourced by the benchmarks that serve the service's own bytes from nginx as
# the anchor: the same certificate and key, keep-alive without a limit, no
# access log, files of WWW_DIR as Atom feeds.

# nginx_conf NGINX_DIR WWW_DIR PORT WORKERS: writes NGINX_DIR/nginx.conf
# (NGINX_DIR holds cert.pem and key.pem and takes nginx's own files).
nginx_conf() {
  cat >"$1/nginx.conf" <<CONF
worker_processes $4;
daemon off;
pid $1/nginx.pid;
error_log $1/error.log;
events { worker_connections 1024; }
http {
    access_log off;
    sendfile on;
    keepalive_requests 1000000;
    client_body_temp_path $1/body;
    proxy_temp_path $1/proxy;
    fastcgi_temp_path $1/fastcgi;
    server {
        listen 127.0.0.1:$3 ssl;
        ssl_certificate $1/cert.pem;
        ssl_certificate_key $1/key.pem;
        root $2;
        default_type application/atom+xml;
    }
}
CONF
}
