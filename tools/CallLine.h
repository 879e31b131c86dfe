#pragma once
// rhcall's command line: the server, branch and token file, then the method and its arguments.

#include <QStringList>

struct CallLine {
    bool help = false, version = false;
    bool watch = false; // subscribe and print every notice; the method is Assinar
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 7400;
    QString branch = QStringLiteral("0001");
    QString tokenFile;
    QString tlsCaFile; // TLS, trusting only this certificate
    QString method;
    QStringList arguments;

    // The documented health check: answers 0 or 1 only.
    bool isHealthCheck() const { return method == QLatin1String("ping") && arguments.isEmpty(); }
};

// Reads the arguments (the program's name first); false with the one-line reason. Options come
// before the method: everything after it is an argument, dashes and all.
bool parseCallLine(const QStringList& args, CallLine* out, QString* error);
