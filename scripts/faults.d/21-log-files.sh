# SPDX-License-Identifier: GPL-3.0-or-later
# Saved logs hold clients' secure codes: under umask 022 they are owner-only, and links
# planted at the next predictable log names are replaced, never written through.

scenario log-files-private quick
scenario_log-files-private() {
  fault_folder
  sed -i "s|^save_log_each_lines=.*|save_log_each_lines=3|" "$PROG/veldra.ini"
  local victim="$FAULT_DIR/victim" i stamp
  echo victim >"$victim"
  chmod 644 "$victim"
  # the stamps of the next 40 seconds (day, month, year, hours, minutes, seconds)
  for i in $(seq 0 40); do
    stamp=$(date -d "+$i seconds" +%d%m%Y%H%M%S)
    ln -sf "$victim" "$PROG/LOGS/mainlog-$stamp.log"
  done
  umask 022
  fault_start
  for i in $(seq 1 10); do fault_get "nosuchfunction$i" >/dev/null || return 1; sleep 0.2; done
  sleep 0.5
  fault_stop || { echo "SIGTERM did not end the server"; return 1; }
  [ "$(cat "$victim")" = victim ] || { echo "a log was written through a planted link"; return 1; }
  local saved=0 f
  for f in "$PROG"/LOGS/mainlog-*.log; do
    [ -L "$f" ] && continue
    saved=$((saved + 1))
    [ "$(stat -c %a "$f")" = 600 ] || { echo "$f has mode $(stat -c %a "$f")"; return 1; }
  done
  [ "$saved" -gt 0 ] || { echo "no log was saved"; return 1; }
}
