# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by scripts that run veldra-headless: a settings file, the test databases and
# waiting for START.
#   veldra_ini FOLDER HTTP_PORT DB_HOST DB_PORT DB_USER DB_PASSWORD CLIENT_DB WORK_DB
#       -> FOLDER/veldra.ini, its default folders under FOLDER (created)
#   demo_queries FOLDER  -> the sample functions in FOLDER/QUERIES, an empty FOLDER/CACHE-VELDRA
#   test_db_create NAME...  -> creates the databases on the VELDRA_TEST_DB_* server
#   veldra_wait_started PID ERRFILE  -> waits (60 s at most) for the START line

veldra_ini() {
  local prog="$1" httpport="$2" dbhost="$3" dbport="$4" dbuser="$5" dbpw="$6" clientdb="$7" workdb="$8"
  mkdir -p "$prog/QUERIES" "$prog/LOGS" "$prog/CACHE-VELDRA"
  conn() {
    printf '[%s]\r\nip=%s\r\nport=%s\r\ndatabase=%s\r\nuser=%s\r\npsw=%s\r\n' "$1" "$dbhost" "$dbport" "$2" "$dbuser" "$dbpw"
  }
  {
    printf '[main]\r\n'
    printf 'path_to_queries=%s\r\npath_to_logs=%s\r\npath_to_cache=%s\r\n' "$prog/QUERIES" "$prog/LOGS" "$prog/CACHE-VELDRA"
    printf 'enabled_caching=1\r\ncaching_clean_older_files=0\r\ncaching_clean_if_sum_files_is_more=1\r\ncaching_clean_quantity_is_more=1\r\n'
    printf 'caching_count_days_for_clean=30\r\ncaching_size_for_clean=1024\r\ncaching_quantity_for_clean=100000\r\n'
    printf 'link_to_descrpt_service=\r\nworked_port=%s\r\nsave_log_each_lines=50000\r\n' "$httpport"
    printf 'resave_time_log=00:01\r\nreload_client_access=23:59\r\nreload_caches=03:00\r\nformat_answer=4\r\n'
    printf 'name_function_for_share_list_functions=GetShareListDescriptionFunctions\r\n'
    conn connect_client_table "$clientdb"
    conn connect_work_data "$workdb"
  } >"$prog/veldra.ini"
  chmod 600 "$prog/veldra.ini"
}

demo_queries() {
  local prog="$1" f
  local here
  here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
  rm -f "$prog"/QUERIES/*.qr
  for f in "$here"/demo-data/queries/*.qr; do
    # query function files are UTF-8 with a byte-order mark and CR LF line ends
    { printf '\xEF\xBB\xBF'; sed 's/$/\r/' "$f"; } >"$prog/QUERIES/$(basename "$f")"
  done
  rm -rf "$prog"/CACHE-VELDRA/*
}

test_db_create() {
  : "${VELDRA_TEST_DB_PORT:?no test database: VELDRA_TEST_DB_* are set by scripts/test}"
  local db
  for db in "$@"; do
    mariadb --no-defaults -h "$VELDRA_TEST_DB_HOST" -P "$VELDRA_TEST_DB_PORT" -u "$VELDRA_TEST_DB_USER" \
      -p"$VELDRA_TEST_DB_PASSWORD" -e "CREATE DATABASE IF NOT EXISTS \`$db\`"
  done
}

veldra_wait_started() {
  local pid="$1" err="$2" i
  for i in $(seq 1 600); do
    grep -q '^START SERVER : ' "$err" 2>/dev/null && return 0
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "veldra-headless ended before START:" >&2
      cat "$err" >&2
      return 1
    fi
    sleep 0.1
  done
  echo "veldra-headless did not START within 60 s:" >&2
  cat "$err" >&2
  return 1
}
