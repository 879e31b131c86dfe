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
//   bench_net notice-load WRITE_PORT WATCH_PORT COUNT OPEN_FILE CONNECTIONS RATE
// The same while CONNECTIONS more clients of the writing server store changes of other records,
// RATE a second in all, in groups of 10 sent together (branches 5000 and up: a database that
// bench_inproc fill made). Whatever cuts the service's database connections meanwhile, a change
// whose write failed is not measured. It prints "p50_ms p99_ms writes_per_s".

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
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

// A change of one questionnaire tie, set or cleared.
std::string tieWrite(bool on, const char* branch, int id = 3) {
    return std::string(R"({"jsonrpc":"2.0","id":)") + std::to_string(id) + R"(,"method":")" +
           (on ? "SetInsPad" : "SetDelPad") + R"(","params":["01002",")" + branch + R"("]})" + "\n";
}

bool answeredOk(const std::string& line) {
    return line.find(R"("result")") != std::string::npos;
}

// Drops whatever the subscriber was told so far.
void discardWaiting(Connection& c) {
    char chunk[65536];
    while (recv(c.fd, chunk, sizeof chunk, MSG_DONTWAIT) > 0) {
    }
    c.buffer.clear();
}

// Writers of other records, each sending a group of lines and reading their answers, paced to
// the rate; counts the writes answered as stored.
void loadWrites(int port, const std::string& open, int connections, int rate,
                const std::atomic<bool>& stop, std::atomic<long>& stored) {
    constexpr int Group = 10;
    std::vector<std::thread> threads;
    for (int c = 0; c < connections; ++c)
        threads.emplace_back([&, c] {
            Connection conn = connectTo(port);
            if (!conn.exchange(open)) die("open");
            const std::string branch = std::to_string(5000 + c);
            const auto every = std::chrono::microseconds(1000000LL * Group * connections / rate);
            auto next = Clock::now();
            bool on = false;
            while (!stop) {
                std::string group;
                for (int i = 0; i < Group; ++i, on = !on)
                    group += tieWrite(on, branch.c_str(), i + 1);
                if (write(conn.fd, group.data(), group.size()) != ssize_t(group.size()))
                    die("write");
                std::string line;
                for (int i = 0; i < Group; ++i) {
                    if (!conn.readLine(&line)) die("answer");
                    stored += answeredOk(line);
                }
                next += every;
                std::this_thread::sleep_until(next);
            }
        });
    for (auto& t : threads)
        t.join();
}

int notice(int writePort, int watchPort, int count, const std::string& open, int loadConnections,
           int loadRate) {
    Connection watcher = connectTo(watchPort), writer = connectTo(writePort);
    if (!watcher.exchange(open) || !writer.exchange(open)) die("open");
    if (!watcher.exchange(R"({"jsonrpc":"2.0","id":2,"method":"Assinar",)"
                          R"("params":["questionario:0001"]})"
                          "\n"))
        die("Assinar");
    std::string line;
    // Sets the mark whatever it was, trying again while the service heals from a cut; its
    // notice, if any, is let go: a write that changes nothing is no news.
    const auto settle = [&] {
        const std::string set = tieWrite(true, "0001");
        for (;;) {
            if (write(writer.fd, set.data(), set.size()) < 0 || !writer.readLine(&line))
                die("write");
            if (answeredOk(line)) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        discardWaiting(watcher);
    };
    settle();
    std::atomic<bool> stop{false};
    std::atomic<long> stored{0};
    std::thread load;
    if (loadConnections > 0)
        load = std::thread(
            [&] { loadWrites(writePort, open, loadConnections, loadRate, stop, stored); });
    const auto loadStart = Clock::now();
    std::vector<double> delays;
    bool on = true;
    while (int(delays.size()) < count) {
        // Changes far enough apart that none waits behind the one before (a burst is coalesced),
        // at times that keep no step with the server's looks.
        std::this_thread::sleep_for(std::chrono::microseconds(300000 + std::rand() % 100000));
        const std::string change = tieWrite(!on, "0001");
        if (write(writer.fd, change.data(), change.size()) < 0 || !writer.readLine(&line))
            die("write");
        const auto acknowledged = Clock::now();
        if (!answeredOk(line)) {
            // Stored or not, nobody can say: not measured.
            settle();
            on = true;
            continue;
        }
        on = !on;
        // A notice that never comes is counted as a minute late, and the run goes on.
        bool told = false;
        while (!told) {
            if (watcher.buffer.find('\n') == std::string::npos) {
                const auto left = std::chrono::seconds(60) - (Clock::now() - acknowledged);
                pollfd p{watcher.fd, POLLIN, 0};
                if (left.count() <= 0 ||
                    poll(
                        &p, 1,
                        int(std::chrono::duration_cast<std::chrono::milliseconds>(left).count())) <=
                        0)
                    break;
            }
            if (!watcher.readLine(&line)) die("notice");
            told = line.find(R"("method":"Alterado")") != std::string::npos;
        }
        delays.push_back(
            std::chrono::duration<double, std::milli>(Clock::now() - acknowledged).count());
    }
    const double loadSeconds = std::chrono::duration<double>(Clock::now() - loadStart).count();
    stop = true;
    if (load.joinable()) load.join();
    std::sort(delays.begin(), delays.end());
    if (loadConnections > 0)
        std::printf("%.1f %.1f %.0f\n", delays[delays.size() / 2],
                    delays[size_t(0.99 * double(delays.size() - 1))], double(stored) / loadSeconds);
    else
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
        return notice(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), readFile(argv[5]),
                      0, 0);
    if (argc == 8 && std::strcmp(argv[1], "notice-load") == 0)
        return notice(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), readFile(argv[5]),
                      std::atoi(argv[6]), std::max(1, std::atoi(argv[7])));
    std::fprintf(stderr, "uso: bench_net echo PORTA BYTES | bench_net call HOST PORTA CONEXOES "
                         "SEGUNDOS PEDIDO [--open ABERTURA] | bench_net notice PORTA_ESCRITA "
                         "PORTA_AVISOS VEZES ABERTURA | bench_net notice-load PORTA_ESCRITA "
                         "PORTA_AVISOS VEZES ABERTURA CONEXOES ESCRITAS_POR_S\n");
    return 2;
}
