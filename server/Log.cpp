#include "Log.h"

#include <QDateTime>
#include <cstdio>
#include <mutex>

namespace rhserver {

void logLine(const QString& line) {
    static std::mutex mutex;
    const QByteArray text = (QDateTime::currentDateTime().toString(Qt::ISODateWithMs) +
                             QStringLiteral(" rhserver: ") + line + u'\n')
                                .toUtf8();
    std::lock_guard lock(mutex);
    std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
    std::fflush(stderr);
}

} // namespace rhserver
