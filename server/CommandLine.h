#pragma once
// rhserver's command line: what it asks for, checked, before anything is opened or started.

#include "RhServer.h"

#include <QHostAddress>
#include <QStringList>

namespace rhserver {

struct CommandLine {
    bool help = false, version = false;
    QString db, tokenFile, backup;
    bool init = false, demo = false;
    bool listenGiven = false; // with --init: serve after initialising instead of ending
    QHostAddress address = QHostAddress::LocalHost;
    quint16 port = 7400;
    QString listen = QStringLiteral("127.0.0.1:7400"); // as given, for messages
    ServerOptions options;                             // the token file is read later
    QStringList warnings;                              // accepted, but worth a line in the log
    // Tokens or a listener other machines reach, without TLS: said once the service is up.
    bool plainSecrets = false;
};

// The usage text of --help.
const char* commandLineUsage();

// Reads the arguments (the program's name first); false with the one-line reason when they
// cannot be served. --help and --version stop reading: nothing else is checked.
bool parseCommandLine(const QStringList& args, CommandLine* out, QString* error);

} // namespace rhserver
