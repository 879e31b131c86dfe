#include "ADOIBQuery.h"

#include "Exceptions.h"
#include "HostServices.h"

#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

TADOIBQuery::TADOIBQuery(QString name)
    : Query(name + QStringLiteral(".Query"))
    , m_name(std::move(name)) {}

QString TADOIBQuery::statement() const {
    const QSqlDatabase db = QSqlDatabase::database(
        ConnectionName.isEmpty() ? host().databaseConnection() : ConnectionName, false);
    const bool second = db.driverName() == u"QPSQL" && !SQL_IB.isEmpty();
    return (second ? SQL_IB : SQL).join(u'\n');
}

void TADOIBQuery::refreshParams() {
    const QString text = SQL.join(u'\n');
    if (text == m_parsedFrom) return;
    m_parsedFrom = text;
    QList<TParam> params;
    static const QRegularExpression name(QStringLiteral(R"((?<![:\w]):([A-Za-z_]\w*))"));
    for (auto it = name.globalMatch(text); it.hasNext();) {
        const QString n = it.next().captured(1);
        if (std::none_of(params.begin(), params.end(),
                         [&](const TParam& p) { return p.Name == n; }))
            params.push_back({n, {}});
    }
    m_params = params;
}

QList<TParam>& TADOIBQuery::Params() {
    refreshParams();
    return m_params;
}

TParam& TADOIBQuery::ParamByName(const QString& name) {
    for (TParam& p : Params())
        if (p.Name.compare(name, Qt::CaseInsensitive) == 0) return p;
    throw EDatabaseError(QStringLiteral("%1: parâmetro '%2' não encontrado").arg(m_name, name));
}

void TADOIBQuery::Open() {
    if (ConnectionName.isEmpty() && !Lookup.isEmpty()) {
        QStringList values;
        for (const TParam& p : Params())
            values << p.Value.toString();
        if (std::optional<protocol::DataPacket> rows = host().lookup(Lookup, values)) {
            fill(*rows);
            return;
        }
    }
    openOnDatabase();
}

void TADOIBQuery::fill(const protocol::DataPacket& rows) {
    protocol::DataPacket packet;
    QVector<int> columns;
    for (int i = 0; i < Query.FieldCount(); ++i) {
        packet.fields.push_back(Query.Fields(i).definition());
        columns.push_back(rows.indexOf(Query.Fields(i).FieldName()));
    }
    for (const protocol::Row& given : rows.rows) {
        protocol::Row row;
        for (const int c : columns)
            row.push_back(c < 0 ? QVariant() : given[c]);
        packet.rows.push_back(std::move(row));
    }
    Query.SetData(packet);
}

void TADOIBQuery::openOnDatabase() {
    const QString connection =
        ConnectionName.isEmpty() ? host().databaseConnection() : ConnectionName;
    QSqlDatabase db = QSqlDatabase::database(connection);
    if (!db.isOpen())
        throw EDatabaseError(
            QStringLiteral("O banco de dados compartilhado não está aberto (%1).").arg(connection));
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(statement()))
        throw EDatabaseError(
            QStringLiteral("%1: erro na consulta: %2").arg(m_name, q.lastError().text()));
    for (const TParam& p : Params())
        q.bindValue(QLatin1Char(':') + p.Name,
                    p.Value.isNull() ? QVariant(QMetaType::fromType<QString>()) : p.Value);
    if (!q.exec())
        throw EDatabaseError(
            QStringLiteral("%1: erro na consulta: %2").arg(m_name, q.lastError().text()));

    protocol::DataPacket packet;
    QVector<int> columns;
    const QSqlRecord record = q.record();
    for (int i = 0; i < Query.FieldCount(); ++i) {
        const TField& f = Query.Fields(i);
        packet.fields.push_back(f.definition());
        columns.push_back(record.indexOf(f.FieldName()));
    }
    while (q.next()) {
        protocol::Row row;
        for (int i = 0; i < Query.FieldCount(); ++i) {
            const QVariant v = columns[i] < 0 ? QVariant() : q.value(columns[i]);
            if (v.isNull())
                row.push_back(QVariant());
            else if (Query.Fields(i).DataType() == FieldType::Float)
                row.push_back(v.toDouble());
            else if (Query.Fields(i).DataType() == FieldType::Date)
                row.push_back(v.toDate());
            else
                row.push_back(v.toString());
        }
        packet.rows.push_back(std::move(row));
    }
    Query.SetData(packet);
}
