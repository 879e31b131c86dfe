#include "Log.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <cstdio>
#include <mutex>

namespace rhserver {

namespace {

constexpr int ClientEventsPerSecond = 20; // for each address

QString escaped(const QString& line) {
    QString out;
    out.reserve(std::min<qsizetype>(line.size(), MaxLogLine) + 8);
    for (const QChar c : line) {
        if (out.size() >= MaxLogLine) {
            out += QStringLiteral("…");
            break;
        }
        const char16_t u = c.unicode();
        if (u == u'\n')
            out += QStringLiteral("\\n");
        else if (u == u'\r')
            out += QStringLiteral("\\r");
        // Controls, line separators and the bidirectional ones, which would make a line read
        // otherwise than it was written.
        else if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0) || u == 0x2028 || u == 0x2029 ||
                 u == 0x061c || (u >= 0x200e && u <= 0x200f) || (u >= 0x202a && u <= 0x202e) ||
                 (u >= 0x2066 && u <= 0x2069))
            out += QStringLiteral("\\u%1").arg(int(u), 4, 16, QChar(u'0'));
        else
            out += c;
    }
    return out;
}

std::mutex mutex;

void write(const QString& line) {
    const QByteArray text = (QDateTime::currentDateTime().toString(Qt::ISODateWithMs) +
                             QStringLiteral(" rhserver: ") + escaped(line) + u'\n')
                                .toUtf8();
    std::lock_guard lock(mutex);
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    std::fflush(stderr);
}

} // namespace

void logLine(const QString& line) {
    write(line);
}

void logClientEvent(const QString& address, const QString& line) {
    struct Window {
        QElapsedTimer started;
        int written = 0;
        qint64 omitted = 0;
    };
    static std::mutex windowMutex;
    static QHash<QString, Window> windows;
    qint64 before = 0;
    {
        std::lock_guard lock(windowMutex);
        // Many addresses at once share one window rather than grow the table without bound.
        if (windows.size() > 4096 && !windows.contains(address)) windows.clear();
        Window& w = windows[address];
        if (!w.started.isValid() || w.started.elapsed() >= 1000) {
            w.started.start();
            w.written = 0;
            before = std::exchange(w.omitted, 0);
        }
        if (w.written >= ClientEventsPerSecond) {
            ++w.omitted;
            return;
        }
        ++w.written;
    }
    if (before > 0)
        write(QStringLiteral("%1 linhas de conexões e requisições recusadas de %2 omitidas no "
                             "último segundo")
                  .arg(before)
                  .arg(address));
    write(line);
}

} // namespace rhserver
