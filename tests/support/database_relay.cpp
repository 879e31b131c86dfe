// The relay as a program of its own, for the scripted failover tests:
//   database_relay HOST PORT   prints the port it listens on, then relays to HOST:PORT.
// SIGUSR1 holds (refuses new connections and keeps back what the database sends), SIGUSR2 lets
// go, SIGTERM ends it.

#include "DatabaseRelay.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "uso: database_relay SERVIDOR PORTA\n");
        return 2;
    }
    // Blocked before the relay's thread starts, which inherits the mask: only sigwait sees them.
    sigset_t handled;
    sigemptyset(&handled);
    for (int s : {SIGUSR1, SIGUSR2, SIGTERM, SIGINT})
        sigaddset(&handled, s);
    pthread_sigmask(SIG_BLOCK, &handled, nullptr);
    QCoreApplication app(argc, argv);
    DatabaseRelay relay(QString::fromLocal8Bit(argv[1]), quint16(std::atoi(argv[2])));
    std::printf("%u\n", unsigned(relay.port()));
    std::fflush(stdout);
    for (;;) {
        int s = 0;
        if (sigwait(&handled, &s) != 0) return 1;
        if (s == SIGUSR1 || s == SIGUSR2)
            relay.hold(s == SIGUSR1);
        else
            return 0;
    }
}
