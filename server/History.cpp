#include "History.h"

#include "contract/Layouts.h"

#include <QDateTime>

namespace rhserver {

namespace {

using protocol::FieldSpec;
using protocol::FieldType;

// Stored instants are UTC with milliseconds, so a bound in the same form compares as text.
QString instant(const QString& text, const char* what) {
    if (text.isEmpty()) return text;
    QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!t.isValid()) t = QDateTime::fromString(text, Qt::ISODate);
    if (!t.isValid())
        throw ServiceError{protocol::ErrorCode::InvalidParams,
                           QStringLiteral("GetHistorico espera %1 como data e hora ISO 8601 "
                                          "(2026-01-31T00:00:00Z), mas recebeu \"%2\".")
                               .arg(QLatin1String(what), text.left(40))};
    return t.toUTC().toString(Qt::ISODateWithMs);
}

} // namespace

std::string historyJson(Storage& s, const HistoryQuery& query) {
    const QString from = instant(query.from, "o início do período");
    const QString to = instant(query.to, "o fim do período");
    qint64 before = 0;
    if (!query.before.isEmpty()) {
        bool ok = false;
        before = query.before.toLongLong(&ok);
        if (!ok || before <= 0)
            throw ServiceError{protocol::ErrorCode::InvalidParams,
                               QStringLiteral("GetHistorico espera o número de uma linha do "
                                              "histórico para continuar, ou um texto vazio.")};
    }
    // An empty argument matches every row, so one prepared statement serves every filter.
    const contract::Layout& layout = contract::history();
    static const QByteArray sql = [&layout] {
        QStringList columns;
        for (const FieldSpec& f : layout.fields)
            columns << f.name;
        return (QStringLiteral("SELECT ") + columns.join(QStringLiteral(", ")) +
                QStringLiteral(" FROM RHAUDITORIA WHERE (? = '' OR CDFILIAL = ?) "
                               "AND (? = '' OR DTAUDITORIA >= ?) AND (? = '' OR DTAUDITORIA < ?) "
                               "AND (? = 0 OR NRAUDITORIA < ?) ORDER BY NRAUDITORIA DESC LIMIT ?"))
            .toUtf8();
    }();
    QSqlQuery& q = s.query(sql.constData());
    q.bindValue(0, query.branch);
    q.bindValue(1, query.branch);
    q.bindValue(2, from);
    q.bindValue(3, from);
    q.bindValue(4, to);
    q.bindValue(5, to);
    q.bindValue(6, before);
    q.bindValue(7, before);
    q.bindValue(8, contract::HistoryPageRows);
    s.exec(q);
    protocol::DataPacket packet;
    packet.fields = layout.fields;
    // The arguments come last; larger ones than their field declares (rare) are told by size.
    const int argumentsSize = layout.fields.last().size;
    while (q.next()) {
        protocol::Row row;
        for (int i = 0; i < layout.fields.size(); ++i)
            row.push_back(Storage::read(layout.fields[i], q.value(i)));
        QVariant& arguments = row.back();
        if (arguments.toString().size() > argumentsSize)
            arguments =
                QStringLiteral("[\"(%1 caracteres omitidos)\"]").arg(arguments.toString().size());
        packet.rows.push_back(std::move(row));
    }
    q.finish();
    return protocol::packetToJson(packet);
}

} // namespace rhserver
