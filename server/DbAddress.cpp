#include "DbAddress.h"

#include "ServerIdentity.h"

#include <QUrl>
#include <algorithm>
#include <cstring>

namespace rhserver {

namespace {
// libpq settings an address may carry: which server of a list to use, and TLS to the database.
const char* const KnownSettings[] = {
    "target_session_attrs", "sslmode", "sslrootcert", "sslcert", "sslkey", "connect_timeout"};

QString postgresUsage() {
    return QStringLiteral("postgresql://usuario@servidor:porta/banco, ou com vários servidores "
                          "postgresql://usuario@servidor1:porta1,servidor2:porta2/banco");
}

// "host", "host:port", "[v6]" or "[v6]:port".
bool splitHostPort(const QString& text, QString* host, int* port) {
    QString rest;
    if (text.startsWith(u'[')) {
        const qsizetype end = text.indexOf(u']');
        if (end < 0) return false;
        *host = text.mid(1, end - 1);
        rest = text.mid(end + 1);
    } else {
        const qsizetype colon = text.indexOf(u':');
        *host = colon < 0 ? text : text.left(colon);
        rest = colon < 0 ? QString() : text.mid(colon);
    }
    *port = 5432;
    if (!rest.isEmpty()) {
        bool ok = false;
        *port = rest.startsWith(u':') ? rest.mid(1).toInt(&ok) : 0;
        if (!ok || *port < 1 || *port > 65535) return false;
    }
    return !host->isEmpty();
}
} // namespace

std::optional<DbAddress> DbAddress::parse(const QString& url, QString* error) {
    DbAddress a;
    if (url.startsWith(QLatin1String("sqlite:"))) {
        a.engine = Engine::SQLite;
        a.path = url.mid(7);
        if (a.path.isEmpty()) {
            *error = QStringLiteral("Informe o caminho do arquivo SQLite em --db sqlite:CAMINHO.");
            return std::nullopt;
        }
        return a;
    }
    QString rest;
    for (const char* scheme : {"postgresql://", "postgres://"})
        if (url.startsWith(QLatin1String(scheme))) rest = url.mid(qsizetype(strlen(scheme)));
    if (rest.isEmpty()) {
        *error =
            QStringLiteral("Endereço de banco de dados não reconhecido: %1. Use sqlite:CAMINHO "
                           "ou %2.")
                .arg(url, postgresUsage());
        return std::nullopt;
    }
    a.engine = Engine::PostgreSQL;
    a.written = std::make_shared<WrittenSystem>();
    // QUrl reads one host only; libpq's list of hosts is split here, the rest decoded as QUrl does.
    const qsizetype query = rest.indexOf(u'?');
    const QString settings = query < 0 ? QString() : rest.mid(query + 1);
    rest = rest.left(query < 0 ? rest.size() : query);
    const qsizetype slash = rest.indexOf(u'/');
    QString authority = rest.left(slash < 0 ? rest.size() : slash);
    a.database = slash < 0 ? QString() : QUrl::fromPercentEncoding(rest.mid(slash + 1).toUtf8());
    const qsizetype at = authority.lastIndexOf(u'@');
    if (at >= 0) {
        const QString userInfo = authority.left(at);
        const qsizetype colon = userInfo.indexOf(u':');
        a.user =
            QUrl::fromPercentEncoding(userInfo.left(colon < 0 ? userInfo.size() : colon).toUtf8());
        if (colon >= 0) a.password = QUrl::fromPercentEncoding(userInfo.mid(colon + 1).toUtf8());
        authority = authority.mid(at + 1);
    }
    for (const QString& part : authority.split(u',')) {
        QString host;
        int port = 5432;
        if (!splitHostPort(part, &host, &port)) {
            *error = QStringLiteral("Servidor PostgreSQL ilegível no endereço: \"%1\". Use %2.")
                         .arg(part, postgresUsage());
            return std::nullopt;
        }
        a.hosts << host;
        a.ports << port;
    }
    if (a.database.isEmpty() || a.database.contains(u'/')) {
        *error = QStringLiteral("O endereço PostgreSQL precisa de servidor e banco: %1.")
                     .arg(postgresUsage());
        return std::nullopt;
    }
    a.host = a.hosts.first();
    a.port = a.ports.first();
    for (const QString& pair : settings.split(u'&', Qt::SkipEmptyParts)) {
        const QString key = pair.section(u'=', 0, 0);
        const QString value = QUrl::fromPercentEncoding(pair.section(u'=', 1).toUtf8());
        const bool known = std::any_of(std::begin(KnownSettings), std::end(KnownSettings),
                                       [&](const char* k) { return key == QLatin1String(k); });
        // The settings reach libpq as one line of key=value words.
        if (!known || value.isEmpty() || value.contains(u' ') || value.contains(u';') ||
            value.contains(u'\'') || value.contains(u'\\')) {
            *error = QStringLiteral("Parâmetro do endereço PostgreSQL não aceito: \"%1\". "
                                    "Aceitos: target_session_attrs, sslmode, sslrootcert, "
                                    "sslcert, sslkey, connect_timeout.")
                         .arg(pair);
            return std::nullopt;
        }
        a.settings << key + u'=' + value;
    }
    // Writes go to the primary: with several hosts, the first one that takes them.
    if (a.severalHosts() &&
        !std::any_of(a.settings.cbegin(), a.settings.cend(),
                     [](const QString& s) { return s.startsWith(u"target_session_attrs="); }))
        a.settings << QStringLiteral("target_session_attrs=read-write");
    return a;
}

QString DbAddress::display() const {
    if (engine == Engine::SQLite) return QStringLiteral("sqlite:") + path;
    QStringList servers;
    for (qsizetype i = 0; i < hosts.size(); ++i)
        servers << (hosts[i].contains(u':') ? u'[' + hosts[i] + u']' : hosts[i]) + u':' +
                       QString::number(ports[i]);
    if (servers.isEmpty()) servers << host + u':' + QString::number(port);
    return QStringLiteral("postgresql://%1@%2/%3").arg(user, servers.join(u','), database);
}
} // namespace rhserver
