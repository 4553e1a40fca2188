# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the bench scripts: program folders of veldra-headless.
#   veldra_function DIR NAME SQL          -> DIR/QUERIES/NAME.qr without input values
#   veldra_program DIR PORT CACHING DBPORT WORKDB CLIENTDB USER PASSWORD
#        -> lays out DIR (executable from $build, veldra.ini, the three folders), starts
#           veldra-headless there (stdout to DIR/stdout.log) and waits for its START;
#           its pid is appended to the array `pids`.
# Measuring, results as files of one figure a line in $tmp/res:
#   median            -> the median of the numbers on stdin ("nan" for none)
#   m FILE            -> the median of $tmp/res/FILE ("nan" when it is missing)
#   mb KIB            -> KIB as MB, one decimal
#   ratio A B [MARK]  -> A / B as "0.00×" (or MARK in place of ×), "-" when either is missing
#   kib PID FIELD     -> a field of /proc/PID/status in KiB (VmRSS, VmHWM)
#   elapsed T0 T1 [D] -> the seconds between two readings of $EPOCHREALTIME, D decimals (3)

veldra_function() {
  local dir="$1" name="$2" sql="$3"
  mkdir -p "$dir/QUERIES"
  { printf '\xEF\xBB\xBF'; sed 's/$/\r/'; } >"$dir/QUERIES/$name.qr" <<QR
<#q_name>$name</#q_name>
<#q_active>-1</#q_active>
<#q_blocked_for_sharelist>0</#q_blocked_for_sharelist>
<#q_descript>$name</#q_descript>
<#q_count_input_values>0</#q_count_input_values>
<#q_content>$sql</#q_content>
QR
}

veldra_program() {
  local dir="$1" port="$2" caching="$3" dbport="$4" workdb="$5" clientdb="$6" user="$7" psw="$8"
  mkdir -p "$dir/QUERIES" "$dir/LOGS" "$dir/CACHE-VELDRA"
  cp "$build/bin/veldra-headless" "$dir/"
  conn() {
    printf '[%s]\r\nip=127.0.0.1\r\nport=%s\r\ndatabase=%s\r\nuser=%s\r\npsw=%s\r\n' "$1" "$dbport" "$2" "$user" "$psw"
  }
  {
    printf '[main]\r\n'
    printf 'path_to_queries=%s\r\npath_to_logs=%s\r\npath_to_cache=%s\r\n' "$dir/QUERIES" "$dir/LOGS" "$dir/CACHE-VELDRA"
    printf 'enabled_caching=%s\r\ncaching_clean_older_files=0\r\ncaching_clean_if_sum_files_is_more=0\r\n' "$caching"
    printf 'caching_clean_quantity_is_more=0\r\ncaching_count_days_for_clean=30\r\ncaching_size_for_clean=1024\r\n'
    printf 'caching_quantity_for_clean=100000\r\nlink_to_descrpt_service=\r\nworked_port=%s\r\n' "$port"
    printf 'save_log_each_lines=50000\r\nresave_time_log=00:01\r\nreload_client_access=23:59\r\nreload_caches=03:00\r\n'
    printf 'format_answer=4\r\nname_function_for_share_list_functions=GetShareListDescriptionFunctions\r\n'
    conn connect_client_table "$clientdb"
    conn connect_work_data "$workdb"
  } >"$dir/veldra.ini"
  "$dir/veldra-headless" >"$dir/stdout.log" 2>"$dir/stderr.log" &
  pids+=($!)
  local i
  for i in $(seq 1 120); do
    grep -q "START SERVER : " "$dir/stderr.log" && return 0
    kill -0 "${pids[-1]}" 2>/dev/null || break
    sleep 0.5
  done
  echo "veldra-headless in $dir did not start:" >&2
  cat "$dir/stderr.log" >&2
  return 1
}

median() {
  sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
m() { [ -s "$tmp/res/$1" ] && median <"$tmp/res/$1" || echo nan; }
mb() { awk -v k="$1" 'BEGIN { if (k == "nan" || k == "") print "nan"; else printf "%.1f", k / 1024 }'; }
ratio() {
  awk -v a="$1" -v b="$2" -v x="${3:-×}" 'BEGIN { if (a != "nan" && a != "" && b + 0 > 0) printf "%.2f%s\n", a / b, x; else print "-" }'
}
kib() { awk -v f="$2:" '$1 == f { print $2 }' "/proc/$1/status"; }
elapsed() { awk -v a="$1" -v b="$2" -v d="${3:-3}" 'BEGIN { printf "%.*f\n", d, b - a }'; }
