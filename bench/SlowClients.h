// Clients that attack a server on loopback, for the server's benchmark and its tests. Slow ones:
// many
// connections from several loopback addresses (127.0.0.2, 127.0.0.3, ...), each sending a byte
// of a request that never ends now and then, half of them in the header and half in the body
// of an upload, opened again whenever the server drops one; meanwhile one normal client on
// 127.0.0.1 reads the ranking and the page one request after the other, each on a connection
// of its own, as visitors arriving during the attack do. Everything is bounded:
// loopback only, the number of connections open at once, the reopenings and the duration.
#pragma once

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

struct TSlowClientFigures {
    int NormalRequests = 0;
    int NormalFailures = 0;          // normal requests not answered 200 in time
    std::vector<double> LatenciesMs; // of the normal requests, in the order sent
    int SlowConnects = 0;            // connections the slow clients opened
    int SlowDropped = 0;             // of them, closed by the server
    int MostSlowOpen = 0;            // the most slow connections open at one time
    double LongestHeaderSeconds = 0; // the longest a connection trickling a header stayed open
};

namespace slow_clients {

using Clock = std::chrono::steady_clock;

struct TSlowConnection {
    int Socket = -1;
    bool InBody = false;      // trickles the body of an upload rather than a header
    bool OpeningSent = false; // the start of the request has gone out
    Clock::time_point Opened{};
    Clock::time_point ReopenAfter{}; // a dropped connection is opened again from then on
};

// A non-blocking connection from sourceAddress to the server; -1 when none could be made.
inline int Connect(const std::string& sourceAddress, const std::string& host, int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in source{};
    source.sin_family = AF_INET;
    inet_pton(AF_INET, sourceAddress.c_str(), &source.sin_addr);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<std::uint16_t>(port));
    inet_pton(AF_INET, host.c_str(), &target.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&source), sizeof source) != 0 ||
        (connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0 &&
         errno != EINPROGRESS)) {
        close(fd);
        return -1;
    }
    return fd;
}

// The start of a request that is never finished.
inline std::string Opening(bool inBody) {
    return inBody ? "POST /api/results HTTP/1.1\r\nHost: slow\r\nContent-Length: 1000000\r\n"
                    "Content-Type: application/octet-stream\r\n\r\n"
                  : "GET / HTTP/1.1\r\nHost: slow\r\nX-Slow: ";
}

inline double SecondsSince(Clock::time_point then) {
    return std::chrono::duration<double>(Clock::now() - then).count();
}

// Whether the bytes went out (a connection still being made takes none).
inline bool Send(int fd, const std::string& bytes) {
    return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT) > 0;
}

} // namespace slow_clients

// connections slow clients spread over addresses loopback addresses, each sending a byte every
// tick, for duration, while the normal client reads /api/ranking pages and / in turn from
// 127.0.0.1 with a timeout of normalTimeout. The server listens on host:port (a loopback
// address).
inline TSlowClientFigures
RunSlowClients(const std::string& host, int port, int connections, int addresses,
               std::chrono::seconds duration,
               std::chrono::milliseconds tick = std::chrono::seconds(1),
               std::chrono::seconds normalTimeout = std::chrono::seconds(10)) {
    using namespace slow_clients;
    TSlowClientFigures figures;
    std::atomic<bool> attacking = true;
    std::thread attacker([&] {
        std::vector<TSlowConnection> slow(static_cast<std::size_t>(connections));
        for (std::size_t i = 0; i < slow.size(); ++i)
            slow[i].InBody = i % 2 == 1;
        const auto sourceOf = [addresses](std::size_t i) {
            return "127.0.0." + std::to_string(2 + static_cast<int>(i) % addresses);
        };
        auto nextTick = Clock::now();
        while (attacking) {
            const auto now = Clock::now();
            int open = 0;
            for (std::size_t i = 0; i < slow.size(); ++i) {
                TSlowConnection& c = slow[i];
                if (c.Socket < 0 && now >= c.ReopenAfter) {
                    c.Socket = Connect(sourceOf(i), host, port);
                    c.OpeningSent = false;
                    c.Opened = now;
                    if (c.Socket >= 0)
                        ++figures.SlowConnects;
                    else
                        c.ReopenAfter = now + tick;
                }
                open += c.Socket >= 0 ? 1 : 0;
            }
            figures.MostSlowOpen = std::max(figures.MostSlowOpen, open);
            // A connection the server closed (or answered) is dropped, to be opened again a
            // tick later.
            std::vector<pollfd> polled;
            for (const TSlowConnection& c : slow)
                if (c.Socket >= 0)
                    polled.push_back({c.Socket, POLLIN, 0});
            poll(polled.data(), polled.size(), 50);
            for (const pollfd& p : polled) {
                if ((p.revents & (POLLIN | POLLHUP | POLLERR)) == 0)
                    continue;
                char discard[4096];
                const ssize_t got = recv(p.fd, discard, sizeof discard, MSG_DONTWAIT);
                if (got > 0 && (p.revents & (POLLHUP | POLLERR)) == 0)
                    continue; // an answer; the close follows
                for (TSlowConnection& c : slow)
                    if (c.Socket == p.fd) {
                        if (!c.InBody)
                            figures.LongestHeaderSeconds =
                                std::max(figures.LongestHeaderSeconds, SecondsSince(c.Opened));
                        close(c.Socket);
                        c.Socket = -1;
                        c.ReopenAfter = Clock::now() + tick;
                        ++figures.SlowDropped;
                    }
            }
            if (Clock::now() < nextTick)
                continue;
            nextTick += tick;
            for (TSlowConnection& c : slow) {
                if (c.Socket < 0)
                    continue;
                // The first tick of a connection sends the opening, each later one a byte.
                if (c.OpeningSent)
                    Send(c.Socket, c.InBody ? "x" : "a");
                else
                    c.OpeningSent = Send(c.Socket, Opening(c.InBody));
            }
        }
        for (TSlowConnection& c : slow)
            if (c.Socket >= 0) {
                if (!c.InBody)
                    figures.LongestHeaderSeconds =
                        std::max(figures.LongestHeaderSeconds, SecondsSince(c.Opened));
                close(c.Socket);
            }
    });

    const auto start = Clock::now();
    // The slow clients take their places first.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    for (int i = 0; Clock::now() - start < duration; ++i) {
        httplib::Client normal(host, port);
        normal.set_connection_timeout(normalTimeout);
        normal.set_read_timeout(normalTimeout);
        normal.set_write_timeout(normalTimeout);
        normal.set_tcp_nodelay(true);
        const std::string path =
            i % 4 == 3 ? "/?offset=" + std::to_string((i % 5) * 20)
                       : "/api/ranking?limit=20&offset=" + std::to_string((i % 50) * 20);
        const auto sent = Clock::now();
        const auto response = normal.Get(path);
        figures.LatenciesMs.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
        ++figures.NormalRequests;
        if (!response || response->status != 200)
            ++figures.NormalFailures;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    attacking = false;
    attacker.join();
    return figures;
}

// The value below which the share p of the values lie.
inline double PercentileOf(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()))];
}

// What a client that sends too much learns: the server's first answer, and how much of the
// body was sent before it came.
struct TFloodAnswer {
    std::string Answer;
    std::size_t BodySent = 0;
};

// An upload with a chunked body of bodyBytes zero bytes, sent a MiB at a time: the server's
// answer as soon as there is one, while the body is still being sent.
inline TFloodAnswer SendChunkedUpload(const std::string& host, int port, std::size_t bodyBytes) {
    TFloodAnswer flood;
    const int fd = slow_clients::Connect("127.0.0.1", host, port);
    if (fd < 0)
        return flood;
    pollfd connected{fd, POLLOUT, 0};
    poll(&connected, 1, 5000);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const std::string head = "POST /api/results HTTP/1.1\r\nHost: x\r\n"
                             "Transfer-Encoding: chunked\r\n\r\n";
    const std::string chunk = "100000\r\n" + std::string(1 << 20, '\0') + "\r\n";
    if (send(fd, head.data(), head.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(head.size()))
        while (flood.BodySent < bodyBytes && send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL) ==
                                                 static_cast<ssize_t>(chunk.size())) {
            flood.BodySent += 1u << 20;
            pollfd readable{fd, POLLIN, 0};
            if (poll(&readable, 1, 0) > 0)
                break;
        }
    pollfd readable{fd, POLLIN, 0};
    char bytes[4096];
    if (poll(&readable, 1, 10000) > 0) {
        const ssize_t got = recv(fd, bytes, sizeof bytes, 0);
        flood.Answer.assign(bytes, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    }
    close(fd);
    return flood;
}
