// SPDX-License-Identifier: GPL-3.0-or-later
// Requests per second of a running veldra-headless (or window) server, from the
// client's side: one GET per connection, as every client of the server sends it.
//
//   bench_headless HOST PORT TARGET [REQUESTS] [CONCURRENCY]
//
// TARGET is the request target, e.g. "/sales?format=json". REQUESTS (default 1000) are
// spread over CONCURRENCY client threads (default 1), each sending its share one after
// the other. Every answer is compared with the first one, byte for byte; an answer that
// differs, or none at all, is counted as a failure. Run it once against a server with
// caching on (after one request has stored the answer) and once against one with
// caching off to compare the cache with the database; bench/run-bench-headless does both.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "httpclient.h"

namespace {

using bench::exchange;
using bench::resolve;

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s HOST PORT TARGET [REQUESTS] [CONCURRENCY]\n", argv[0]);
        return 2;
    }
    const int requests = argc > 4 ? std::atoi(argv[4]) : 1000;
    const int concurrency = argc > 5 ? std::atoi(argv[5]) : 1;
    if (requests < 1 || concurrency < 1) {
        std::fprintf(stderr, "REQUESTS and CONCURRENCY must be at least 1\n");
        return 2;
    }
    sockaddr_storage addr{};
    socklen_t len = 0;
    if (!resolve(argv[1], argv[2], addr, len)) {
        std::fprintf(stderr, "cannot resolve %s:%s\n", argv[1], argv[2]);
        return 2;
    }
    const std::string request = std::string("GET ") + argv[3] + " HTTP/1.1\r\nHost: " + argv[1] + "\r\n\r\n";

    // The reference answer; with caching on this is also the request that stores it.
    const std::string expected = exchange(addr, len, request);
    if (expected.rfind("HTTP/1.1 200 OK\r\n", 0) != 0) {
        std::fprintf(stderr, "unexpected answer (%zu bytes): %.300s\n", expected.size(), expected.c_str());
        return 1;
    }

    using Clock = std::chrono::steady_clock;
    std::atomic<int> next{0}, failures{0};
    std::vector<double> millis(static_cast<size_t>(requests));  // each slot written by one thread only
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < concurrency; ++t)
        threads.emplace_back([&] {
            for (int i; (i = next.fetch_add(1)) < requests;) {
                const auto t0 = Clock::now();
                if (exchange(addr, len, request) != expected) failures.fetch_add(1);
                millis[size_t(i)] = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
            }
        });
    for (auto& t : threads) t.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::sort(millis.begin(), millis.end());
    auto at = [&](double q) { return millis[std::min(millis.size() - 1, size_t(q * double(millis.size())))]; };

    std::printf("%s %d requests, %d at a time, answer %zu bytes: %.0f requests/s, "
                "ms per request median %.2f p90 %.2f p99 %.2f max %.1f, %d failed\n",
                argv[3], requests, concurrency, expected.size(), requests / seconds, at(0.5), at(0.9), at(0.99),
                millis.back(), failures.load());
    return failures.load() == 0 ? 0 : 1;
}
