# SPDX-License-Identifier: GPL-3.0-or-later
# The nginx example in front of instances: a request that reached an instance is never
# sent to another (an instance that fails a query closes without an answer), while an
# instance that takes no connection is passed over.

# nginx_front UPSTREAM-PORT...: nginx with deploy/nginx-veldra.conf before those ports;
# sets FRONT (its port) and NGINX_PID.
nginx_front() {
  local conf="$FAULT_DIR/nginx-$1" servers="" p
  mkdir -p "$conf/tmp"
  for p in "$@"; do servers+="    server 127.0.0.1:$p max_fails=3 fail_timeout=10s;\n"; done
  FRONT=$(free_port)
  awk -v servers="$servers" '
    /^upstream veldra/ { print; printf "%s", servers; skip = 1; next }
    skip && /^}/ { skip = 0 }
    skip && /server 127/ { next }
    { print }' deploy/nginx-veldra.conf | sed "s/listen 80;/listen 127.0.0.1:$FRONT;/" | sed 's/\\n/\n/g' >"$conf/site.conf"
  cat >"$conf/nginx.conf" <<CONF
pid $conf/nginx.pid;
error_log $conf/error.log;
events {}
http {
    access_log off;
    client_body_temp_path $conf/tmp/body;
    proxy_temp_path $conf/tmp/proxy;
    fastcgi_temp_path $conf/tmp/fastcgi;
    uwsgi_temp_path $conf/tmp/uwsgi;
    scgi_temp_path $conf/tmp/scgi;
    include $conf/site.conf;
}
CONF
  nginx -e stderr -p "$conf" -c "$conf/nginx.conf" -g 'daemon off; master_process off;' 2>>"$conf/error.log" &
  NGINX_PID=$!
  local i
  for i in $(seq 1 50); do
    curl -s -o /dev/null "http://127.0.0.1:$FRONT/" && return 0
    sleep 0.1
  done
  cat "$conf/error.log"
  return 1
}

# broken_function FOLDER: a function whose query fails, so the instance closes the
# connection without an answer.
broken_function() {
  printf '\xEF\xBB\xBF<#q_name>broken</#q_name>\r\n<#q_active>-1</#q_active>\r\n<#q_content>SELECT * FROM no_such_table</#q_content>\r\n' \
    >"$1/broken.qr"
}

scenario nginx-no-second-send slow
scenario_nginx-no-second-send() {
  command -v nginx >/dev/null || { echo "nginx is not installed"; return 1; }
  local a b dead i
  fault_folder "$FAULT_DIR/a"
  a=$PORT
  broken_function "$PROG/QUERIES"
  fault_start
  A_PID=$SERVER_PID
  local a_out="$PROG.out"
  fault_folder "$FAULT_DIR/b"
  b=$PORT
  broken_function "$PROG/QUERIES"
  fault_start
  B_PID=$SERVER_PID
  local b_out="$PROG.out"
  trap 'kill $A_PID $B_PID ${NGINX_PID:-} 2>/dev/null || true' EXIT
  dead=$(free_port)

  # An instance that takes no connection: every request is answered by the other.
  nginx_front "$dead" "$a" || return 1
  for i in $(seq 1 6); do
    fault_get "nosuchfunction$i" >/dev/null 2>&1 || true
    curl -s -o /dev/null -w '%{http_code}\n' "http://127.0.0.1:$FRONT/nosuchfunction$i" >>"$FAULT_DIR/codes"
  done
  kill "$NGINX_PID"; wait "$NGINX_PID" 2>/dev/null || true
  if grep -qv '^200$' "$FAULT_DIR/codes"; then
    echo "with one instance down, requests failed:"; sort "$FAULT_DIR/codes" | uniq -c; return 1
  fi

  # A request that failed on the instance that got it is not sent to the other one.
  nginx_front "$a" "$b" || return 1
  for i in $(seq 1 6); do curl -s -o /dev/null "http://127.0.0.1:$FRONT/broken?n=$i" || true; done
  kill "$NGINX_PID"; wait "$NGINX_PID" 2>/dev/null || true
  sleep 0.5
  local twice
  cat "$a_out" "$b_out" | grep -o 'Input request \[GET /broken?n=[0-9]*' >"$FAULT_DIR/reached" || true
  [ -s "$FAULT_DIR/reached" ] || { echo "no request reached an instance"; return 1; }
  twice=$(sort "$FAULT_DIR/reached" | uniq -d | wc -l)
  [ "$twice" -eq 0 ] || { echo "$twice requests that failed on one instance were sent again to the other"; return 1; }
}
