-- SPDX-License-Identifier: GPL-3.0-or-later
-- Sample data for scripts/demo: a small work database and a client database.
CREATE DATABASE IF NOT EXISTS veldra_demo_work CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci;
CREATE DATABASE IF NOT EXISTS veldra_demo_clients CHARACTER SET utf8mb4 COLLATE utf8mb4_unicode_ci;

USE veldra_demo_work;
DROP TABLE IF EXISTS sales;
DROP TABLE IF EXISTS customers;
CREATE TABLE customers (
  id INT PRIMARY KEY,
  name VARCHAR(100) NOT NULL,
  city VARCHAR(100),
  joined DATE
) CHARACTER SET utf8mb4;
INSERT INTO customers VALUES
  (1, 'Åsa Lindqvist', 'Göteborg', '2019-03-14'),
  (2, 'José Núñez', 'Málaga', '2020-11-02'),
  (3, 'O''Brien & Sons', 'Cork', NULL),
  (4, 'Zoë "Zed" Müller', NULL, '2021-07-30'),
  (5, 'Дмитрий Иванов', 'Санкт-Петербург', '2022-01-09');
CREATE TABLE sales (
  id INT PRIMARY KEY,
  customer_id INT NOT NULL,
  product VARCHAR(100) NOT NULL,
  sold_at DATETIME NOT NULL,
  amount DECIMAL(10,2) NOT NULL,
  note TEXT
) CHARACTER SET utf8mb4;
INSERT INTO sales VALUES
  (1, 1, 'Kaffe 500 g', '2020-02-03 09:15:00', 12.50, NULL),
  (2, 2, 'Aceite de oliva', '2020-06-21 17:40:12', 8.90, 'primera presión'),
  (3, 3, 'Brown bread', '2021-01-05 08:00:00', 3.20, 'said "fresh"'),
  (4, 1, 'Kanelbullar', '2021-12-24 15:30:45', 24.00, 'Jul'),
  (5, 5, 'Чай', '2022-03-08 11:11:11', 5.75, NULL),
  (6, 4, 'Brezel', '2022-10-01 06:45:00', 1.10, 'Tab\there');

USE veldra_demo_clients;
CREATE TABLE IF NOT EXISTS `clients_veldra` (
  `id` INT(11) NOT NULL AUTO_INCREMENT,
  `email` varchar(100) NOT NULL,
  `seccode` varchar(255) NOT NULL,
  `todate` date NOT NULL,
  `note` text,
  PRIMARY KEY (`id`),
  UNIQUE KEY (`email`, `seccode`),
  KEY (`todate`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8;
CREATE TABLE IF NOT EXISTS `blacklist_veldra` (
  `blocktype` enum('IP', 'SECCODE', 'EMAIL') NOT NULL DEFAULT 'IP',
  `value` varchar(255) NOT NULL,
  PRIMARY KEY (`blocktype`,`value`)
) ENGINE=InnoDB DEFAULT CHARSET=utf8;
DELETE FROM clients_veldra;
DELETE FROM blacklist_veldra;
INSERT INTO clients_veldra (email, seccode, todate, note)
  VALUES ('demo@example.com', '5F4DCC3B5AA765D61D8327DEB882CF99', DATE_ADD(CURDATE(), INTERVAL 1 YEAR), 'demo client'),
         ('sales@example.org', '0B1C2D3E4F5A69788796A5B4C3D2E1F0', DATE_ADD(CURDATE(), INTERVAL 3 MONTH), 'sales office'),
         ('old@example.net', 'A1B2C3D4E5F60718293A4B5C6D7E8F90', DATE_SUB(CURDATE(), INTERVAL 10 DAY), 'contract ended');
INSERT INTO blacklist_veldra VALUES ('EMAIL', 'blocked@example.com'), ('IP', '203.0.113.7'),
  ('SECCODE', 'FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF');

CREATE USER IF NOT EXISTS 'veldra'@'127.0.0.1' IDENTIFIED BY 'veldra-demo';
CREATE USER IF NOT EXISTS 'veldra'@'localhost' IDENTIFIED BY 'veldra-demo';
GRANT ALL PRIVILEGES ON veldra_demo_work.* TO 'veldra'@'127.0.0.1';
GRANT ALL PRIVILEGES ON veldra_demo_clients.* TO 'veldra'@'127.0.0.1';
GRANT ALL PRIVILEGES ON veldra_demo_work.* TO 'veldra'@'localhost';
GRANT ALL PRIVILEGES ON veldra_demo_clients.* TO 'veldra'@'localhost';
FLUSH PRIVILEGES;
