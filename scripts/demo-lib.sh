# Sourced by scripts/demo and scripts/screenshots: a program folder for the demo.
#   demo_program_folder PROG DBPORT HTTPPORT
#     -> PROG/QUERIES with the sample functions, PROG/LOGS, an empty PROG/CACHE-VELDRA
#        and PROG/veldra.ini for the seeded databases on 127.0.0.1:DBPORT, serving on
#        HTTPPORT. The databases come from scripts/demo-data/seed.sql.

demo_program_folder() {
  local prog="$1" dbport="$2" httpport="$3" f
  local here
  here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
  mkdir -p "$prog/QUERIES" "$prog/LOGS" "$prog/CACHE-VELDRA"
  rm -f "$prog"/QUERIES/*.qr
  for f in "$here"/demo-data/queries/*.qr; do
    # query function files are UTF-8 with a byte-order mark and CR LF line ends
    { printf '\xEF\xBB\xBF'; sed 's/$/\r/' "$f"; } >"$prog/QUERIES/$(basename "$f")"
  done
  rm -rf "$prog"/CACHE-VELDRA/*

  _demo_conn() {
    printf '[%s]\r\nip=127.0.0.1\r\nport=%s\r\ndatabase=%s\r\nuser=veldra\r\npsw=veldra-demo\r\n' "$1" "$dbport" "$2"
  }
  {
    printf '[main]\r\n'
    printf 'path_to_queries=%s\r\npath_to_logs=%s\r\npath_to_cache=%s\r\n' "$prog/QUERIES" "$prog/LOGS" "$prog/CACHE-VELDRA"
    printf 'enabled_caching=1\r\ncaching_clean_older_files=0\r\ncaching_clean_if_sum_files_is_more=1\r\ncaching_clean_quantity_is_more=1\r\n'
    printf 'caching_count_days_for_clean=30\r\ncaching_size_for_clean=1024\r\ncaching_quantity_for_clean=100000\r\n'
    printf 'link_to_descrpt_service=\r\nworked_port=%s\r\nsave_log_each_lines=50000\r\n' "$httpport"
    printf 'resave_time_log=00:01\r\nreload_client_access=23:59\r\nreload_caches=03:00\r\nformat_answer=4\r\n'
    printf 'name_function_for_share_list_functions=GetShareListDescriptionFunctions\r\n'
    _demo_conn connect_client_table veldra_demo_clients
    _demo_conn connect_work_data veldra_demo_work
  } >"$prog/veldra.ini"
  chmod 600 "$prog/veldra.ini"
}
