// SPDX-License-Identifier: GPL-3.0-or-later
// The service a user might write instead of Veldra, for bench/compare: Node.js http
// with a mysql2 pool of 8 connections and one prepared statement per route.
//   node bench/node-service.js HTTP_PORT DB_PORT DATABASE USER PASSWORD
'use strict';
const http = require('http');
const mysql = require('mysql2');

const [httpPort, dbPort, database, user, password] = process.argv.slice(2);
const pool = mysql.createPool({
  host: '127.0.0.1', port: Number(dbPort), database, user, password, connectionLimit: 8,
  dateStrings: true, decimalNumbers: false,
});
const routes = {
  '/small': 'SELECT id, label, amount, at FROM items WHERE id <= ? ORDER BY id',
  '/large': 'SELECT id, label, amount, at FROM items WHERE id <= ? ORDER BY id',
};
const limits = { '/small': 20, '/large': 50000 };

http.createServer((req, res) => {
  const path = req.url.split('?')[0];
  const sql = routes[path];
  if (!sql) {
    res.writeHead(404);
    res.end();
    return;
  }
  pool.execute(sql, [limits[path]], (err, rows) => {
    if (err) {
      res.writeHead(500);
      res.end(String(err));
      return;
    }
    res.writeHead(200, { 'Content-Type': 'application/json; charset=utf-8' });
    res.end(JSON.stringify({ empty: rows.length === 0 ? 'true' : 'false', Data: { Row: rows } }));
  });
}).listen(Number(httpPort), '127.0.0.1', () => process.stderr.write('listening\n'));
