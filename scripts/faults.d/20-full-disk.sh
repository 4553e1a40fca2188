# SPDX-License-Identifier: GPL-3.0-or-later
# Files on a full disk: the cache and the logs of a running server on a small tmpfs that
# fills up. No cache file is ever committed empty or cut (a repeated request gets the
# same answer), failed log saves are reported with the file and the reason and keep the
# lines, the files saved before stay whole, and all goes on once there is room again.

# full_disk_function FOLDER: a function whose answer has `rows` rows, keyed by k.
full_disk_function() {
  { printf '\xEF\xBB\xBF'
    printf '%s\r\n' '<#q_name>rows</#q_name>' '<#q_active>-1</#q_active>' \
      '<#q_blocked_for_sharelist>0</#q_blocked_for_sharelist>' '<#q_descript>rows</#q_descript>' \
      '<#q_count_input_values>1</#q_count_input_values>' '<#q_in_name[1]>k</#q_in_name[1]>' \
      '<#q_in_default_value[1]>0</#q_in_default_value[1]>' \
      '<#q_in_deleteblocked_ifvalue_is[1]>[]</#q_in_deleteblocked_ifvalue_is[1]>' \
      '<#q_in_Cleantext[1]>0</#q_in_Cleantext[1]>' '<#q_in_IsFloatValue[1]>-1</#q_in_IsFloatValue[1]>' \
      '<#q_in_deleteblocked[1]>0</#q_in_deleteblocked[1]>' \
      '<#q_content>SELECT seq, {:k:} AS k FROM seq_1_to_3000</#q_content>'
  } >"$1/rows.qr"
}

scenario full-disk slow
scenario_full-disk() {
  [ "$(id -u)" = 0 ] || { echo "mounting a tmpfs needs root"; return 1; }
  fault_folder
  full_disk_function "$PROG/QUERIES"
  FULL_DISK="$FAULT_DIR/disk"
  local disk="$FULL_DISK" k
  mkdir -p "$disk"
  mount -t tmpfs -o size=3m tmpfs "$disk" || { echo "cannot mount a tmpfs"; return 1; }
  trap 'fault_stop >/dev/null 2>&1 || true; umount -l "$FULL_DISK" 2>/dev/null || true' EXIT
  mkdir -p "$disk/LOGS" "$disk/CACHE"
  sed -i -e "s|^path_to_logs=.*|path_to_logs=$disk/LOGS|" -e "s|^path_to_cache=.*|path_to_cache=$disk/CACHE|" \
    -e "s|^save_log_each_lines=.*|save_log_each_lines=10|" "$PROG/veldra.ini"
  local ini_sum function_sum
  ini_sum=$(sha256sum <"$PROG/veldra.ini")
  function_sum=$(sha256sum <"$PROG/QUERIES/rows.qr")
  fault_start

  # Room enough: answers cached, logs saved.
  for k in 1 2 3 4 5; do fault_get "rows?k=$k&format=xml" >"$FAULT_DIR/a$k" || return 1; done
  [ -n "$(find "$disk/CACHE" -name '*.cache' -size +0)" ] || { echo "nothing was cached with room"; return 1; }
  [ -n "$(ls "$disk/LOGS")" ] || { echo "no log was saved with room"; return 1; }
  ( cd "$disk/LOGS" && sha256sum -- * ) >"$FAULT_DIR/logs-before"

  # Full.
  dd if=/dev/zero of="$disk/fill" bs=4k >/dev/null 2>&1 || true
  cat /dev/zero >"$disk/fill2" 2>/dev/null || true
  for k in 1 2 3 4 5; do
    fault_get "rows?k=$k&format=xml" | cmp -s - "$FAULT_DIR/a$k" || { echo "cached answer $k changed on a full disk"; return 1; }
  done
  for k in $(seq 6 40); do fault_get "rows?k=$k&format=xml" >"$FAULT_DIR/b$k" || return 1; done
  for k in $(seq 6 40); do
    [ -s "$FAULT_DIR/b$k" ] || { echo "answer $k was empty"; return 1; }
    fault_get "rows?k=$k&format=xml" | cmp -s - "$FAULT_DIR/b$k" || { echo "answer $k differs when asked again: a cut cache file"; return 1; }
  done
  sleep 0.5
  if find "$disk/CACHE" -type f -size 0 | grep -q .; then
    echo "empty cache files:"; find "$disk/CACHE" -type f -size 0; return 1
  fi
  if find "$disk/CACHE" "$disk/LOGS" -type f ! -name '*.cache' ! -name '*.log' | grep -q .; then
    echo "temporary files left behind:"; find "$disk/CACHE" "$disk/LOGS" -type f ! -name '*.cache' ! -name '*.log'; return 1
  fi
  ( cd "$disk/LOGS" && sha256sum -c --quiet "$FAULT_DIR/logs-before" ) || { echo "a log saved before changed"; return 1; }
  if find "$disk/LOGS" -type f -size 0 | grep -q .; then echo "empty log files"; return 1; fi
  grep -q "Cannot write file \"$disk/LOGS/mainlog-.*No space left on device" "$PROG.err" ||
    { echo "the failed log save was not reported:"; tail -5 "$PROG.err"; return 1; }

  # Room again: caching and log saving go on.
  rm -f "$disk/fill" "$disk/fill2"
  local logs_before
  logs_before=$(ls "$disk/LOGS" | wc -l)
  for k in $(seq 6 15); do fault_get "rows?k=$k&format=xml" | cmp -s - "$FAULT_DIR/b$k" || { echo "answer $k changed with room again"; return 1; }; done
  sleep 1.2
  for k in $(seq 6 15); do fault_get "rows?k=$k&format=xml" | cmp -s - "$FAULT_DIR/b$k" || { echo "answer $k changed with room again"; return 1; }; done
  [ "$(ls "$disk/LOGS" | wc -l)" -gt "$logs_before" ] || { echo "log saving did not go on with room again"; return 1; }
  fault_stop || { echo "SIGTERM did not end the server"; return 1; }
  [ "$(sha256sum <"$PROG/veldra.ini")" = "$ini_sum" ] || { echo "veldra.ini changed"; return 1; }
  [ "$(sha256sum <"$PROG/QUERIES/rows.qr")" = "$function_sum" ] || { echo "the function file changed"; return 1; }
}
