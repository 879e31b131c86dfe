#include "History.h"

#include <QDateTime>

namespace rhserver {

namespace {

using protocol::FieldSpec;
using protocol::FieldType;

// The most a packet's text field may declare; larger arguments (rare) are told by their size.
constexpr int ArgumentsSize = 1'000'000;

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

const QVector<FieldSpec> historyFields = {
    {QStringLiteral("NRAUDITORIA"), FieldType::Float, 0},
    {QStringLiteral("DTAUDITORIA"), FieldType::String, 30},
    {QStringLiteral("CDFILIAL"), FieldType::String, 4},
    {QStringLiteral("NMTOKEN"), FieldType::String, 60},
    {QStringLiteral("NMMETODO"), FieldType::String, 30},
    {QStringLiteral("IDRECUSADO"), FieldType::String, 1},
    {QStringLiteral("DSARGUMENTOS"), FieldType::String, ArgumentsSize}};

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
    QSqlQuery& q =
        s.query("SELECT NRAUDITORIA, DTAUDITORIA, CDFILIAL, NMTOKEN, NMMETODO, IDRECUSADO, "
                "DSARGUMENTOS FROM RHAUDITORIA WHERE (? = '' OR CDFILIAL = ?) "
                "AND (? = '' OR DTAUDITORIA >= ?) AND (? = '' OR DTAUDITORIA < ?) "
                "AND (? = 0 OR NRAUDITORIA < ?) ORDER BY NRAUDITORIA DESC LIMIT ?");
    q.bindValue(0, query.branch);
    q.bindValue(1, query.branch);
    q.bindValue(2, from);
    q.bindValue(3, from);
    q.bindValue(4, to);
    q.bindValue(5, to);
    q.bindValue(6, before);
    q.bindValue(7, before);
    q.bindValue(8, HistoryPageRows);
    s.exec(q);
    protocol::DataPacket packet;
    packet.fields = historyFields;
    while (q.next()) {
        protocol::Row row;
        for (int i = 0; i < historyFields.size(); ++i)
            row.push_back(Storage::read(historyFields[i], q.value(i)));
        QVariant& arguments = row.back();
        if (arguments.toString().size() > ArgumentsSize)
            arguments =
                QStringLiteral("[\"(%1 caracteres omitidos)\"]").arg(arguments.toString().size());
        packet.rows.push_back(std::move(row));
    }
    q.finish();
    return protocol::packetToJson(packet);
}

} // namespace rhserver
