# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by scripts/test and scripts/demo: a private MariaDB server in a folder of
# its own, reachable on 127.0.0.1 only.
#   mariadb_start DIR PORT   -> starts the server (initialising DIR when new)
#   mariadb_sql DIR SQL...   -> runs SQL as root over the socket
#   mariadb_stop DIR         -> stops the server

mariadb_start() {
  local dir="$1" port="$2"
  mkdir -p "$dir"
  if [ ! -d "$dir/data/mysql" ]; then
    mariadb-install-db --no-defaults --datadir="$dir/data" --user=root \
      --auth-root-authentication-method=normal >"$dir/install.log" 2>&1
  fi
  mariadbd --no-defaults --datadir="$dir/data" --socket="$dir/sock" --port="$port" \
    --bind-address=127.0.0.1 --user=root --skip-log-bin --pid-file="$dir/mariadbd.pid" \
    >"$dir/server.log" 2>&1 &
  echo $! >"$dir/server.pid"
  local i
  for i in $(seq 1 120); do
    if mariadb --no-defaults --socket="$dir/sock" -uroot -e 'SELECT 1' >/dev/null 2>&1; then
      # anonymous users would shadow the users we create
      mariadb --no-defaults --socket="$dir/sock" -uroot -e "DELETE FROM mysql.global_priv WHERE User=''; FLUSH PRIVILEGES;"
      return 0
    fi
    if ! kill -0 "$(cat "$dir/server.pid")" 2>/dev/null; then
      echo "MariaDB did not start; see $dir/server.log" >&2
      tail -n 20 "$dir/server.log" >&2
      return 1
    fi
    sleep 0.5
  done
  echo "MariaDB did not answer within 60 s; see $dir/server.log" >&2
  return 1
}

mariadb_sql() {
  local dir="$1"; shift
  mariadb --no-defaults --socket="$dir/sock" -uroot "$@"
}

mariadb_stop() {
  local dir="$1"
  [ -f "$dir/server.pid" ] || return 0
  local pid; pid=$(cat "$dir/server.pid")
  if kill -0 "$pid" 2>/dev/null; then
    kill "$pid"
    local i
    for i in $(seq 1 60); do kill -0 "$pid" 2>/dev/null || break; sleep 0.5; done
  fi
  rm -f "$dir/server.pid"
}

# A free TCP port on 127.0.0.1.
free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}
