// Loopback request/reply load in plain C++, for comparing rhserver with what the machine allows.
//   bench_net echo PORT REPLY_BYTES    an epoll server that answers every line with a fixed line
//   bench_net call HOST PORT CONNECTIONS SECONDS REQUEST_FILE [--open OPEN_FILE]
//   bench_net notice WRITE_PORT WATCH_PORT COUNT OPEN_FILE
// The client sends the request line, waits for one reply line, and repeats, on each connection
// from its own thread. It prints "calls_per_s p50_us p99_us reply_bytes" on one line. A request
// holding @K@ is sent with a four-digit key there instead, a different one each call (the 10,000
// codes in a shuffled order of each connection's own), so that no reply can be one the server
// kept; bench_inproc fill gives every one of them a row.
// notice: a subscriber on one server, a writer on the other; COUNT times, 300 ms apart, the
// writer stores a change and the time from its acknowledgement to the subscriber's notice is
// taken. It prints
// "p50_ms p99_ms" on one line.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void die(const char* what) {
    std::perror(what);
    std::exit(1);
}

int echo(int port, size_t replyBytes) {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    const int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) || listen(listener, 512))
        die("listen");
    std::string reply(replyBytes > 0 ? replyBytes - 1 : 0, 'x');
    reply += '\n';
    const int ep = epoll_create1(0);
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = listener;
    epoll_ctl(ep, EPOLL_CTL_ADD, listener, &ev);
    std::unordered_map<int, std::string> pending; // bytes of an unfinished request line
    std::vector<epoll_event> events(256);
    char buffer[65536];
    for (;;) {
        const int n = epoll_wait(ep, events.data(), int(events.size()), -1);
        for (int i = 0; i < n; ++i) {
            const int fd = events[size_t(i)].data.fd;
            if (fd == listener) {
                int client;
                while ((client = accept4(listener, nullptr, nullptr, SOCK_NONBLOCK)) >= 0) {
                    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    epoll_event cev{};
                    cev.events = EPOLLIN;
                    cev.data.fd = client;
                    epoll_ctl(ep, EPOLL_CTL_ADD, client, &cev);
                }
                continue;
            }
            const ssize_t got = read(fd, buffer, sizeof buffer);
            if (got <= 0) {
                pending.erase(fd);
                close(fd);
                continue;
            }
            // One reply per complete line, as a JSON-RPC server would answer.
            size_t lines = size_t(std::count(buffer, buffer + got, '\n'));
            std::string out;
            for (size_t k = 0; k < lines; ++k)
                out += reply;
            size_t sent = 0;
            while (sent < out.size()) {
                const ssize_t w = write(fd, out.data() + sent, out.size() - sent);
                if (w <= 0) break; // the client reads every reply before sending more
                sent += size_t(w);
            }
        }
    }
}

std::string readFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Connection {
    int fd = -1;
    std::string buffer;
    size_t replyBytes = 0;

    bool exchange(const std::string& request) {
        if (write(fd, request.data(), request.size()) != ssize_t(request.size())) return false;
        return readLine(nullptr);
    }
    // The next line, without its newline, into *line when given.
    bool readLine(std::string* line) {
        char chunk[65536];
        for (;;) {
            const size_t nl = buffer.find('\n');
            if (nl != std::string::npos) {
                replyBytes = nl + 1;
                if (line) *line = buffer.substr(0, nl);
                buffer.erase(0, nl + 1);
                return true;
            }
            const ssize_t got = read(fd, chunk, sizeof chunk);
            if (got <= 0) return false;
            buffer.append(chunk, size_t(got));
        }
    }
};

// The request as sent, call after call: itself, or with each of 10,000 keys in place of @K@
// (made before the run, so the client does the same work for every server).
std::vector<std::string> keyedRequests(const std::string& request, int connection) {
    const size_t at = request.find("@K@");
    if (at == std::string::npos) return {request};
    std::vector<std::string> all;
    all.reserve(10000);
    for (int i = 0; i < 10000; ++i) {
        char key[8];
        std::snprintf(key, sizeof key, "%04d", i);
        all.push_back(request.substr(0, at) + key + request.substr(at + 3));
    }
    std::shuffle(all.begin(), all.end(), std::mt19937(unsigned(connection) + 1));
    return all;
}

Connection connectTo(int port) {
    Connection conn;
    conn.fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(conn.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr)) die("connect");
    const int one = 1;
    setsockopt(conn.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return conn;
}

int notice(int writePort, int watchPort, int count, const std::string& open) {
    Connection watcher = connectTo(watchPort), writer = connectTo(writePort);
    if (!watcher.exchange(open) || !writer.exchange(open)) die("open");
    if (!watcher.exchange(R"({"jsonrpc":"2.0","id":2,"method":"Assinar",)"
                          R"("params":["questionario:0001"]})"
                          "\n"))
        die("Assinar");
    const auto mark = [](bool on) {
        return std::string(R"({"jsonrpc":"2.0","id":3,"method":")") +
               (on ? "SetInsPad" : "SetDelPad") + R"(","params":["01002","0001"]})" + "\n";
    };
    // A write that changes nothing is no news: the mark is set first, whatever it was, and its
    // notice, if any, is let go.
    if (!writer.exchange(mark(true))) die("write");
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    char chunk[65536];
    while (recv(watcher.fd, chunk, sizeof chunk, MSG_DONTWAIT) > 0) {
    }
    watcher.buffer.clear();
    std::vector<double> delays;
    for (int i = 0; i < count; ++i) {
        // Changes far enough apart that none waits behind the one before (a burst is coalesced),
        // at times that keep no step with the server's looks.
        std::this_thread::sleep_for(std::chrono::microseconds(300000 + std::rand() % 100000));
        const std::string write = std::string(R"({"jsonrpc":"2.0","id":3,"method":")") +
                                  (i % 2 ? "SetInsPad" : "SetDelPad") +
                                  R"(","params":["01002","0001"]})" + "\n";
        if (!writer.exchange(write)) die("write");
        const auto acknowledged = Clock::now();
        std::string line;
        do
            if (!watcher.readLine(&line)) die("notice");
        while (line.find(R"("method":"Alterado")") == std::string::npos);
        delays.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - acknowledged).count());
    }
    std::sort(delays.begin(), delays.end());
    std::printf("%.1f %.1f\n", delays[delays.size() / 2],
                delays[size_t(0.99 * double(delays.size() - 1))]);
    return 0;
}

int call(const char* host, int port, int connections, int seconds, const std::string& request,
         const std::string& open) {
    std::vector<std::vector<double>> latencies(static_cast<size_t>(connections));
    std::vector<size_t> replyBytes(static_cast<size_t>(connections));
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int c = 0; c < connections; ++c) {
        threads.emplace_back([&, c] {
            Connection conn;
            conn.fd = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(uint16_t(port));
            inet_pton(AF_INET, host, &addr.sin_addr);
            if (connect(conn.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr)) die("connect");
            const int one = 1;
            setsockopt(conn.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            if (!open.empty() && !conn.exchange(open)) die("open");
            ++ready;
            while (!go)
                std::this_thread::yield();
            auto& mine = latencies[size_t(c)];
            mine.reserve(1 << 20);
            const std::vector<std::string> requests = keyedRequests(request, c);
            size_t next = 0;
            const auto end = Clock::now() + std::chrono::seconds(seconds);
            for (auto now = Clock::now(); now < end;) {
                const auto start = now;
                if (!conn.exchange(requests[next])) die("exchange");
                if (++next == requests.size()) next = 0;
                now = Clock::now();
                mine.push_back(std::chrono::duration<double, std::micro>(now - start).count());
            }
            replyBytes[size_t(c)] = conn.replyBytes;
            close(conn.fd);
        });
    }
    while (ready < connections)
        std::this_thread::yield();
    go = true;
    for (auto& t : threads)
        t.join();
    std::vector<double> all;
    for (auto& l : latencies)
        all.insert(all.end(), l.begin(), l.end());
    std::sort(all.begin(), all.end());
    const auto pct = [&](double p) {
        return all.empty() ? 0.0 : all[size_t(p * double(all.size() - 1))];
    };
    std::printf("%.0f %.1f %.1f %zu\n", double(all.size()) / seconds, pct(0.5), pct(0.99),
                replyBytes[0]);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "echo") == 0)
        return echo(std::atoi(argv[2]), size_t(std::atoll(argv[3])));
    if (argc >= 7 && std::strcmp(argv[1], "call") == 0) {
        const std::string open =
            argc == 9 && std::strcmp(argv[7], "--open") == 0 ? readFile(argv[8]) : std::string();
        return call(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                    readFile(argv[6]), open);
    }
    if (argc == 6 && std::strcmp(argv[1], "notice") == 0)
        return notice(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]),
                      readFile(argv[5]));
    std::fprintf(stderr, "uso: bench_net echo PORTA BYTES | bench_net call HOST PORTA CONEXOES "
                         "SEGUNDOS PEDIDO [--open ABERTURA] | bench_net notice PORTA_ESCRITA "
                         "PORTA_AVISOS VEZES ABERTURA\n");
    return 2;
}
