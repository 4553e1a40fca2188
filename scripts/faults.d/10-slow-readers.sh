# SPDX-License-Identifier: GPL-3.0-or-later
# Clients that ask for a large answer and never read it: no request thread waits for
# them, and a normal request is answered in its usual time meanwhile.

# slow_readers_function FOLDER: the function "big", about 1.7 MB of JSON from 20,000 rows.
slow_readers_function() {
  {
    printf '\xEF\xBB\xBF'
    printf '%s\r\n' '<#q_name>big</#q_name>' '<#q_active>-1</#q_active>' '<#q_blocked_for_sharelist>0</#q_blocked_for_sharelist>' \
      '<#q_descript>Many rows.</#q_descript>' '<#q_count_input_values>0</#q_count_input_values>' \
      "<#q_content>WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200) SELECT a.i * 100 + b.i AS i, REPEAT('x', 40) AS v FROM n a JOIN n b ON b.i <= 100 ORDER BY 1</#q_content>"
  } >"$1/QUERIES/big.qr"
}

# slow_readers COUNT SECONDS: COUNT clients each ask for /big and read nothing for SECONDS.
slow_readers() {
  python3 - "$PORT" "$1" "$2" <<'PY' &
import socket, sys, time
port, count, seconds = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
held = []
for _ in range(count):
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    s.connect(("127.0.0.1", port))
    s.sendall(b"GET /big HTTP/1.1\r\n\r\n")
    held.append(s)
time.sleep(seconds)
PY
  READERS_PID=$!
}

# slow_readers_check CACHING: 300 non-readers, then a normal request within 3 s, twice.
slow_readers_check() {
  fault_folder
  slow_readers_function "$PROG"
  sed -i "s/^enabled_caching=.*/enabled_caching=$1\r/" "$PROG/veldra.ini"
  fault_start
  local size
  size=$(fault_get big | wc -c)
  [ "$size" -gt 1500000 ] || { echo "the large answer has $size bytes"; return 1; }
  slow_readers 300 90
  trap 'kill "$READERS_PID" 2>/dev/null || true' RETURN
  # Every one of them has had its answer made (the first request's included); their
  # request threads are to be free now, whatever the clients do.
  local i served=0
  for i in $(seq 1 600); do
    served=$(grep -c -e 'Was succesful sent answer' -e 'was sent from cache' "$PROG.out" || true)
    [ "$served" -ge 301 ] && break
    sleep 0.1
  done
  [ "$served" -ge 301 ] || { echo "only $served of 301 answers were made within 60 s"; return 1; }
  local round start ms
  for round in 1 2; do
    start=$(date +%s%N)
    FAULT_TIMEOUT=10 fault_get nosuchfunction | grep -q "not found" || { echo "no answer within 10 s while 300 clients do not read"; return 1; }
    ms=$(( ($(date +%s%N) - start) / 1000000 ))
    echo "round $round: answered in $ms ms; threads $(grep Threads /proc/$SERVER_PID/status | tr -s '\t ' ' '), $(grep VmRSS /proc/$SERVER_PID/status | tr -s '\t ' ' ')"
    [ "$ms" -lt 3000 ] || { echo "a normal request took $ms ms"; return 1; }
    sleep 2
  done
  fault_stop || { echo "SIGTERM did not end the server"; return 1; }
}

scenario slow-readers quick
scenario_slow-readers() { slow_readers_check 0; }

scenario slow-readers-cached quick
scenario_slow-readers-cached() { slow_readers_check 1; }
