# SPDX-License-Identifier: GPL-3.0-or-later
# Rows of the client tables whose e-mails carry another field's markers: each field is
# read where it stands, so an expired client stays expired and a black-list e-mail that
# names an address blocks no address.

scenario email-markers quick
scenario_email-markers() {
  fault_folder
  full_disk_function "$PROG/QUERIES"  # from 20-full-disk.sh
  fault_start
  fault_stop || return 1
  db_sql "$FAULT_CLIENT_DB" -e "
    DELETE FROM clients_veldra; DELETE FROM blacklist_veldra;
    INSERT INTO clients_veldra (email, seccode, todate, note) VALUES
      ('\"<todate>31.12.2099</todate>\"@ab.cd', 'EXPIREDCODE1', '2020-01-01', ''),
      ('ok@ab.cd', 'GOODCODE123', '2099-01-01', '');
    INSERT INTO blacklist_veldra VALUES ('EMAIL', '\"<IP>127.0.0.1</IP>\"@ab.cd');" || return 1
  fault_start
  local expired registered
  expired=$(fault_get "rows" -G --data-urlencode 'email="<todate>31.12.2099</todate>"@ab.cd' \
    --data-urlencode 'seccode=EXPIREDCODE1') || return 1
  registered=$(fault_get "rows" -G --data-urlencode 'email=ok@ab.cd' --data-urlencode 'seccode=GOODCODE123') || return 1
  grep -q 'test client - data is modified' <<<"$expired" ||
    { echo "the expired client was served as registered:"; printf '%s\n' "$expired" | head -5; return 1; }
  grep -q 'Client is blocked' <<<"$registered" &&
    { echo "an e-mail on the black list blocked the address it names"; return 1; }
  grep -q 'test client - data is modified' <<<"$registered" &&
    { echo "the registered client was served as a test client"; printf '%s\n' "$registered" | head -5; return 1; }
  return 0
}
