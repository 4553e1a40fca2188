# SPDX-License-Identifier: GPL-3.0-or-later
# A standard output nobody reads: the server keeps serving, its memory stays bounded,
# and SIGTERM still ends it within 3 seconds.

scenario blocked-stdout quick
scenario_blocked-stdout() {
  fault_folder
  # A reader that holds the pipe open and never reads.
  mkfifo "$FAULT_DIR/stdout"
  sleep 600 <"$FAULT_DIR/stdout" &
  BLOCKED_READER=$!
  trap 'kill "${BLOCKED_READER:-}" 2>/dev/null || true; fault_stop >/dev/null 2>&1 || true' EXIT
  FAULT_STDOUT="$FAULT_DIR/stdout" fault_start
  local pad rss_before rss_after answered i
  pad=$(head -c 2000 /dev/zero | tr '\0' p)
  rss_before=$(awk '/^VmRSS:/ {print $2}' "/proc/$SERVER_PID/status")
  # 1000 requests, each logging a few kilobytes: far more than the pipe holds.
  for i in $(seq 1 1000); do
    printf 'url = "http://127.0.0.1:%s/nosuchfunction?format=json&pad=%s&n=%s"\noutput = "/dev/null"\n' "$PORT" "$pad" "$i"
  done >"$FAULT_DIR/requests"
  answered=$(curl -s --max-time 120 -w '%{http_code}\n' -K "$FAULT_DIR/requests" | grep -c '^200$' || true)
  [ "$answered" -eq 1000 ] || { echo "$answered of 1000 requests answered while standard output was blocked"; return 1; }
  rss_after=$(awk '/^VmRSS:/ {print $2}' "/proc/$SERVER_PID/status")
  echo "resident memory: $rss_before kB before, $rss_after kB after 1000 requests"
  [ $((rss_after - rss_before)) -lt 65536 ] || { echo "resident memory grew by more than 64 MB"; return 1; }
  kill -TERM "$SERVER_PID"
  for i in $(seq 1 30); do
    kill -0 "$SERVER_PID" 2>/dev/null || { wait "$SERVER_PID" 2>/dev/null || true; SERVER_PID=""; return 0; }
    sleep 0.1
  done
  echo "SIGTERM did not end the server within 3 s"
  return 1
}
