# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by bench/compare and bench/large-answers, after scripts/mariadb-lib.sh and
# bench/bench-lib.sh: answers of any size from caching-off veldra-headless, and clients
# that never read theirs. A server is a name with its port, pid, program folder and
# label in the arrays srv_port, srv_pid, srv_dir and srv_label; the database is the
# private server in $tmp/db, reached as $dbuser/$dbpsw on $dbport, database $dbname.
# Results go to $tmp/res as SCENARIO.SERVER.{time,rss,bytes,threads,queued}.
#   large_fill          -> $dbname.big_items: 1,000,000 rows of the four columns of
#                          `items`; the pages the filling left dirty are written before
#                          it returns, not while something is measured
#   large_functions DIR -> the function files million (all 1,000,000 rows) and mid
#                          (9,000 rows, about 1.7 MB of JSON for a test client)
#   large_batch NAME SQL           -> seconds of `mariadb --batch` printing SQL
#                                     (NAME.batch.time)
#   large_fetch NAME SERVER PATH N -> N requests at once: seconds until all are done,
#                                     peak RSS growth (KiB; VmHWM reset through
#                                     clear_refs before), bytes of one answer
#   large_slow SERVER   -> 300 clients that ask for mid and never read it (receive
#                          buffer 4 KiB each), then one normal request: its time, the
#                          server's RSS growth, its threads, and what the sockets hold
#                          in the system's send and receive queues (`ss`, KiB)
#   large_table SERVER... -> the table of medians (the 50,000-row columns only when
#                            fifty.batch.time was measured)
# `readers` holds the pid of the non-reading clients while they run: kill it on exit.

declare -A srv_port srv_pid srv_dir srv_label
readers=""
million_sql="SELECT id, label, amount, at FROM big_items ORDER BY id"
mid_sql="SELECT id, label, amount, at FROM big_items WHERE id <= 9000 ORDER BY id"

large_fill() {
  mariadb_sql "$tmp/db" "$dbname" -e "
    CREATE TABLE $dbname.big_items (id INT PRIMARY KEY, label VARCHAR(60), amount DECIMAL(10,2), at DATETIME);
    INSERT INTO $dbname.big_items SELECT seq, CONCAT('item number ', seq, ' of the bench table'), seq * 1.25,
      '2024-03-08 21:12:05' + INTERVAL seq MINUTE FROM seq_1_to_1000000;"
  local pct dirty i
  pct=$(mariadb_sql "$tmp/db" -N -e "SELECT @@GLOBAL.innodb_max_dirty_pages_pct")
  mariadb_sql "$tmp/db" -e "SET GLOBAL innodb_max_dirty_pages_pct = 0"
  for i in $(seq 1 300); do
    dirty=$(mariadb_sql "$tmp/db" -N -e "SHOW GLOBAL STATUS LIKE 'Innodb_buffer_pool_pages_dirty'" | awk '{ print $2 }')
    [ "$dirty" -le 16 ] && break
    sleep 0.2
  done
  mariadb_sql "$tmp/db" -e "SET GLOBAL innodb_max_dirty_pages_pct = $pct"
}

large_functions() {
  veldra_function "$1" million "$million_sql"
  veldra_function "$1" mid "$mid_sql"
}

large_batch() {
  local t0 t1
  t0=$EPOCHREALTIME
  mariadb --no-defaults --batch -h127.0.0.1 -P"$dbport" -u"$dbuser" -p"$dbpsw" "$dbname" -e "$2" >"$tmp/batch.tsv"
  t1=$EPOCHREALTIME
  elapsed "$t0" "$t1" >>"$tmp/res/$1.batch.time"
  rm -f "$tmp/batch.tsv"
}

large_fetch() {
  local name="$1" s="$2" path="$3" count="$4" pid="${srv_pid[$2]}" port="${srv_port[$2]}" rss0 t0 t1 i
  local curls=()
  echo 5 >"/proc/$pid/clear_refs"
  rss0=$(kib "$pid" VmRSS)
  t0=$EPOCHREALTIME
  for i in $(seq 1 "$count"); do
    curl -s "http://127.0.0.1:$port/$path" -o "$tmp/out.$i" &
    curls+=($!)
  done
  wait "${curls[@]}" || echo "warning: $name from $s: a request failed" >&2
  t1=$EPOCHREALTIME
  elapsed "$t0" "$t1" >>"$tmp/res/$name.$s.time"
  echo $(( $(kib "$pid" VmHWM) - rss0 )) >>"$tmp/res/$name.$s.rss"
  stat -c %s "$tmp/out.1" >"$tmp/res/$name.$s.bytes"
  for i in $(seq 1 "$count"); do rm -f "$tmp/out.$i"; done
}

large_slow() {
  local s="$1" pid="${srv_pid[$1]}" port="${srv_port[$1]}" log="${srv_dir[$1]}/stdout.log" rss0 t0 t1 i before
  rss0=$(kib "$pid" VmRSS)
  before=$(grep -c "Processing request" "$log" || true)
  python3 - "$port" 300 60 <<'PY' &
import socket, sys, time
port, count, seconds = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
held = []
for _ in range(count):
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    s.connect(("127.0.0.1", port))
    s.sendall(b"GET /mid HTTP/1.1\r\n\r\n")
    held.append(s)
time.sleep(seconds)
PY
  readers=$!
  for i in $(seq 1 600); do
    [ "$(grep -c "Processing request" "$log" || true)" -ge $((before + 300)) ] && break
    sleep 0.1
  done
  [ "$i" -lt 600 ] || echo "warning: $s logged fewer than 300 of the non-readers' requests within 60 s" >&2
  sleep 5
  t0=$EPOCHREALTIME
  curl -s --max-time 30 "http://127.0.0.1:$port/nosuchfunction" -o /dev/null || echo "warning: $s: the normal request failed" >&2
  t1=$EPOCHREALTIME
  elapsed "$t0" "$t1" >"$tmp/res/slow.$s.time"
  echo $(( $(kib "$pid" VmRSS) - rss0 )) >"$tmp/res/slow.$s.rss"
  kib "$pid" Threads >"$tmp/res/slow.$s.threads"
  ss -tn "( sport = :$port or dport = :$port )" | awk 'NR > 1 { q += $2 + $3 } END { printf "%d\n", q / 1024 }' >"$tmp/res/slow.$s.queued"
  kill "$readers" 2>/dev/null || true
  wait "$readers" 2>/dev/null || true
  readers=""
  sleep 2
}

large_table() {
  local s fifty=""
  [ -s "$tmp/res/fifty.batch.time" ] && fifty=1
  printf '| veldra-headless | 1,000,000 rows JSON | ×mariadb --batch | peak RSS growth | four at once |'
  [ -n "$fifty" ] && printf ' 50,000 rows | ×mariadb --batch |'
  printf ' 300 non-readers: a normal request | RSS growth | threads | in socket queues |\n'
  printf '|---|---|---|---|---|'
  [ -n "$fifty" ] && printf -- '---|---|'
  printf -- '---|---|---|---|\n'
  for s in "$@"; do
    printf '| %s (%s MB answer) | %s s | %s | +%s MB | +%s MB |' \
      "${srv_label[$s]}" "$(mb $(( $(cat "$tmp/res/million.$s.bytes" 2>/dev/null || echo 0) / 1024 )))" \
      "$(m million.$s.time)" "$(ratio "$(m million.$s.time)" "$(m million.batch.time)")" \
      "$(mb "$(m million.$s.rss)")" "$(mb "$(m four.$s.rss)")"
    [ -n "$fifty" ] && printf ' %s s | %s |' "$(m fifty.$s.time)" "$(ratio "$(m fifty.$s.time)" "$(m fifty.batch.time)")"
    printf ' %s s | +%s MB | %s | %s MB |\n' \
      "$(m slow.$s.time)" "$(mb "$(m slow.$s.rss)")" "$(m slow.$s.threads)" "$(mb "$(m slow.$s.queued)")"
  done
  printf '| mariadb --batch | %s s | | | |' "$(m million.batch.time)"
  [ -n "$fifty" ] && printf ' %s s | |' "$(m fifty.batch.time)"
  printf ' | | | |\n'
}
