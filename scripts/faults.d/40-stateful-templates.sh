# SPDX-License-Identifier: GPL-3.0-or-later
# Query functions that change their session: another database, a user-level lock, table
# locks, a transaction left open by a procedure, a user variable. The requests after
# them see a session as new, and another session is not blocked once they have ended.

# stateful_function NAME SQL: a function without input values in $PROG/QUERIES.
stateful_function() {
  { printf '\xEF\xBB\xBF'; sed 's/$/\r/'; } >"$PROG/QUERIES/$1.qr" <<QR
<#q_name>$1</#q_name>
<#q_active>-1</#q_active>
<#q_blocked_for_sharelist>0</#q_blocked_for_sharelist>
<#q_descript>$1</#q_descript>
<#q_count_input_values>0</#q_count_input_values>
<#q_content>$2</#q_content>
QR
}

scenario stateful-templates quick
scenario_stateful-templates() {
  fault_folder
  sed -i 's/^enabled_caching=1/enabled_caching=0/' "$PROG/veldra.ini"
  local work="$FAULT_WORK_DB"
  db_sql "$work" -e "
    CREATE TABLE t (a INT PRIMARY KEY) ENGINE=InnoDB;
    INSERT INTO t VALUES (1), (2);
    CREATE PROCEDURE open_tx() BEGIN START TRANSACTION; SELECT a FROM t WHERE a = 1 FOR UPDATE; END"
  stateful_function usedb "USE $FAULT_CLIENT_DB"
  stateful_function getlock "SELECT GET_LOCK('veldra_fault_lock', 0) AS l"
  stateful_function locktables "LOCK TABLES t WRITE"
  stateful_function opentx "CALL open_tx()"
  stateful_function setvar "SELECT @v := 'left' AS v"
  # one-character values: a test client's longer values are shortened
  stateful_function session "SELECT IFNULL(DATABASE() = '$work', 0) AS db, @v IS NULL AS v, @@autocommit AS ac, @@in_transaction AS tx"
  fault_start

  local fresh='"db": "1",|"v": "1",|"ac": "1",|"tx": "0"'
  session_is_fresh() {
    local i body
    for i in 1 2 3; do
      body=$(fault_get "session?format=json") || { echo "no answer from session after $1"; return 1; }
      echo "$body" | tr -d '\t\r' | grep -E '^"(db|v|ac|tx)"' | paste -sd'|' | grep -qxF "$fresh" ||
        { echo "after $1 the next request saw:"; echo "$body"; return 1; }
    done
  }
  # each check runs before any other request could clean the connection
  other_can() {
    case "$1" in
      getlock) [ "$(db_sql -N -e "SELECT IS_FREE_LOCK('veldra_fault_lock')")" = 1 ] ;;
      locktables) db_sql "$work" -e "SET SESSION lock_wait_timeout = 2; INSERT INTO t VALUES (3); DELETE FROM t WHERE a = 3" ;;
      opentx) db_sql "$work" -e "SET SESSION innodb_lock_wait_timeout = 2; SELECT a FROM t WHERE a = 1 FOR UPDATE" >/dev/null ;;
      *) true ;;
    esac
  }
  local f
  for f in usedb getlock locktables opentx setvar; do
    fault_get "$f?format=json" >/dev/null || true  # some give no answer: that is theirs
    other_can "$f" || { echo "another session was blocked after $f"; return 1; }
    session_is_fresh "$f" || return 1
  done
  fault_stop || { echo "SIGTERM did not end the server within 10 s"; return 1; }
}
