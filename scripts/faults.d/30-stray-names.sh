# SPDX-License-Identifier: GPL-3.0-or-later
# Function files whose names are "." or ".." ("..qr", "...qr") name the cache folder
# itself and the folder above it, by default the program folder.

# The daily cleaning over its size limit, with both stray files in the queries folder:
# the function folders go, the program folder and the cache folder stay.
scenario stray-names-daily-cleaning quick
scenario_stray-names-daily-cleaning() {
  fault_folder
  : >"$PROG/QUERIES/...qr"
  : >"$PROG/QUERIES/..qr"
  mkdir -p "$PROG/CACHE-VELDRA/sales"
  head -c 1048576 /dev/zero >"$PROG/CACHE-VELDRA/sales/K.cache"
  # The cleaning runs when the clock shows its time of day: this minute, with time
  # enough left in it to START.
  [ "$(date +%S | sed 's/^0//')" -lt 45 ] || sleep $((61 - $(date +%S | sed 's/^0//')))
  sed -i "s/^reload_caches=.*\r$/reload_caches=$(date +%H:%M)\r/; s/^caching_size_for_clean=.*\r$/caching_size_for_clean=1\r/" \
    "$PROG/veldra.ini"
  grep -q "^reload_caches=$(date +%H:%M)" "$PROG/veldra.ini" || { echo "veldra.ini not prepared"; return 1; }
  cp "$PROG/veldra.ini" "$FAULT_DIR/veldra.ini.before"
  fault_start
  local i
  for i in $(seq 1 150); do
    [ -d "$PROG/CACHE-VELDRA/sales" ] || break
    [ -e "$PROG/veldra.ini" ] || break
    sleep 0.1
  done
  fault_stop || true
  local failed=0
  [ -e "$PROG/veldra.ini" ] || { echo "veldra.ini was deleted"; failed=1; }
  [ -e "$PROG/QUERIES/sales.qr" ] || { echo "QUERIES/ was deleted"; failed=1; }
  [ -d "$PROG/CACHE-VELDRA" ] || { echo "the cache folder was deleted"; failed=1; }
  if [ "$failed" = 0 ] && [ -d "$PROG/CACHE-VELDRA/sales" ]; then
    echo "the daily cleaning did not run"; cat "$PROG.err"; return 1
  fi
  return "$failed"
}

# Requests for "." and "..", with a function file for ".": not found (before, "." was
# looked up and run), and nothing is cached in the cache folder itself.
scenario stray-names-requests quick
scenario_stray-names-requests() {
  fault_folder
  cp "$PROG/QUERIES/sales.qr" "$PROG/QUERIES/..qr"
  fault_start
  local path answer
  for path in . .. %2e %2e%2e '.?format=json'; do
    answer=$(fault_get "$path" --path-as-is) || { echo "no answer for /$path"; return 1; }
    case "$answer" in
      *"Name request from Client not found"*) ;;
      *) echo "/$path was answered: $answer"; return 1 ;;
    esac
  done
  fault_stop || { echo "SIGTERM did not end the server within 10 s"; return 1; }
  [ -d "$PROG/CACHE-VELDRA" ] || { echo "the cache folder was deleted"; return 1; }
  [ -z "$(find "$PROG/CACHE-VELDRA" -maxdepth 1 -name '*.cache')" ] || { echo "an answer was cached in the cache folder itself"; return 1; }
}
