#include "Storage.h"

#include "protocol/JsonWriter.h"
#include "protocol/PacketJson.h"

#include <QDate>
#include <QSqlError>
#include <cstdlib>
#include <libpq-fe.h>
#include <simdjson.h>
#include <sqlite3.h>

namespace rhserver {

using protocol::FieldSpec;
using protocol::FieldType;

namespace {

std::string_view columnText(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    return text ? std::string_view(text, size_t(sqlite3_column_bytes(statement, column)))
                : std::string_view();
}

// A stored day as the packet carries it: "YYYY-MM-DD" from the first ten characters (a time after
// them is left out). Anything else is no day and goes as null: the packet's readers refuse a date
// field that holds no day, and so would refuse the whole record.
void writeStoredDay(protocol::JsonWriter& out, std::string_view text) {
    const auto digits = [&](size_t from, size_t count) {
        int n = 0;
        for (size_t i = from; i < from + count; ++i) {
            if (text[i] < '0' || text[i] > '9') return -1;
            n = n * 10 + (text[i] - '0');
        }
        return n;
    };
    // The usual form is checked by hand: QDate's parsing and formatting cost more than the read.
    if (text.size() >= 10 && text[4] == '-' && text[7] == '-' &&
        QDate::isValid(digits(0, 4), digits(5, 2), digits(8, 2))) {
        out.string(text.substr(0, 10));
        return;
    }
    const QDate day = QDate::fromString(
        QString::fromUtf8(text.data(), qsizetype(std::min<size_t>(text.size(), 10))), Qt::ISODate);
    if (day.isValid())
        out.string(day.toString(Qt::ISODate));
    else
        out.null();
}

// A column as Storage::read and the packet writer make it from what Qt SQL gives.
void writeColumn(protocol::JsonWriter& out, const FieldSpec& field, sqlite3_stmt* statement,
                 int column) {
    if (sqlite3_column_type(statement, column) == SQLITE_NULL) {
        out.null();
        return;
    }
    switch (field.type) {
    case FieldType::String: {
        const std::string_view text = columnText(statement, column);
        // Bytes another program stored that are not UTF-8 go as the driver would decode them.
        if (simdjson::validate_utf8(text.data(), text.size()))
            out.string(text);
        else
            out.string(QString::fromUtf8(text.data(), qsizetype(text.size())));
        return;
    }
    case FieldType::Float:
        out.number(sqlite3_column_double(statement, column));
        return;
    case FieldType::Date:
        writeStoredDay(out, columnText(statement, column));
        return;
    }
}

std::string packet(const std::string& head, const protocol::JsonWriter& rows) {
    std::string out;
    out.reserve(head.size() + rows.text().size() + 1);
    out.append(head).append(rows.text()).append(1, '}');
    return out;
}

// PostgreSQL numbers its parameters: each ? outside a quoted text becomes $1, $2...
QByteArray numberedParameters(const char* sql) {
    QByteArray out;
    int n = 0;
    bool quoted = false;
    for (const char* c = sql; *c; ++c) {
        if (*c == '\'') quoted = !quoted;
        if (*c == '?' && !quoted)
            out += '$' + QByteArray::number(++n);
        else
            out += *c;
    }
    return out;
}

// A column as Storage::read and the packet writer make it from what Qt SQL gives.
void writePostgresColumn(protocol::JsonWriter& out, const FieldSpec& field, const PGresult* result,
                         int row, int column) {
    if (PQgetisnull(result, row, column)) {
        out.null();
        return;
    }
    const char* text = PQgetvalue(result, row, column);
    switch (field.type) {
    case FieldType::String:
        out.string(std::string_view(text, size_t(PQgetlength(result, row, column))));
        return;
    case FieldType::Float:
        out.number(std::strtod(text, nullptr));
        return;
    case FieldType::Date:
        writeStoredDay(out, std::string_view(text, size_t(PQgetlength(result, row, column))));
        return;
    }
}

std::string postgresPacket(const PGresult* result, const std::string& head,
                           const QVector<FieldSpec>& fields) {
    const int columns = std::min(int(fields.size()), PQnfields(result));
    protocol::JsonWriter rows;
    rows.beginArray();
    for (int r = 0, count = PQntuples(result); r < count; ++r) {
        rows.beginArray();
        for (int i = 0; i < columns; ++i)
            writePostgresColumn(rows, fields[i], result, r, i);
        for (int i = columns; i < fields.size(); ++i)
            rows.null();
        rows.endArray();
    }
    rows.endArray();
    return packet(head, rows);
}

} // namespace

std::string packetHead(const QVector<FieldSpec>& fields) {
    protocol::JsonWriter head;
    head.beginObject();
    protocol::writeFields(head, fields);
    std::string text = head.take();
    text.append(",\"rows\":");
    return text;
}

std::string sqlitePacket(sqlite3_stmt* statement, const std::string& head,
                         const QVariantList& params, const QVector<FieldSpec>& fields,
                         int* status) {
    struct Reset {
        sqlite3_stmt* statement;
        ~Reset() {
            sqlite3_reset(statement);
            sqlite3_clear_bindings(statement);
        }
    } reset{statement};
    for (int i = 0; i < params.size(); ++i) {
        const QVariant& value = params[i];
        if (value.typeId() == QMetaType::Int || value.typeId() == QMetaType::LongLong) {
            sqlite3_bind_int64(statement, i + 1, value.toLongLong());
        } else {
            const QByteArray text = value.toString().toUtf8();
            sqlite3_bind_text(statement, i + 1, text.constData(), int(text.size()),
                              SQLITE_TRANSIENT);
        }
    }
    protocol::JsonWriter out;
    out.beginArray();
    const int columns = std::min(int(fields.size()), sqlite3_column_count(statement));
    while ((*status = sqlite3_step(statement)) == SQLITE_ROW) {
        out.beginArray();
        for (int i = 0; i < columns; ++i)
            writeColumn(out, fields[i], statement, i);
        for (int i = columns; i < fields.size(); ++i)
            out.null();
        out.endArray();
    }
    if (*status != SQLITE_DONE) return {};
    out.endArray();
    return packet(head, out);
}

std::string Storage::readPacket(const char* sql, const QVariantList& params,
                                const QVector<FieldSpec>& fields) {
    return m_address.engine == Engine::SQLite ? readPacketFromSqlite(sql, params, fields)
                                              : readPacketFromPostgres(sql, params, fields);
}

const Storage::PostgresRead& Storage::preparedPostgresRead(PGconn* connection, const char* sql,
                                                           const QVector<FieldSpec>& fields) {
    PostgresRead& read = m_postgresReads[sql];
    if (read.name.isEmpty()) {
        const QByteArray name = "rh_leitura_" + QByteArray::number(m_postgresReads.size());
        PGresult* prepared = PQprepare(connection, name.constData(),
                                       numberedParameters(sql).constData(), 0, nullptr);
        const bool ok = PQresultStatus(prepared) == PGRES_COMMAND_OK;
        PQclear(prepared);
        if (!ok) {
            m_postgresReads.remove(sql);
            fail(QStringLiteral("preparar a consulta"),
                 QString::fromUtf8(PQerrorMessage(connection)));
        }
        read.name = name;
        read.head = packetHead(fields);
    }
    return read;
}

std::string Storage::readPacketFromPostgres(const char* sql, const QVariantList& params,
                                            const QVector<FieldSpec>& fields) {
    if (params.size() == 1)
        for (const ReadAhead& ahead : m_readAhead)
            if (ahead.sql == sql && ahead.parameter == params.front().toString())
                return ahead.packet;
    PGconn* connection = postgresConnection();
    if (!connection)
        fail(QStringLiteral("ler do banco"), QStringLiteral("a conexão não está aberta"));
    const PostgresRead& read = preparedPostgresRead(connection, sql, fields);
    std::vector<QByteArray> texts;
    std::vector<const char*> values;
    texts.reserve(size_t(params.size()));
    for (const QVariant& p : params)
        texts.push_back(p.toString().toUtf8());
    for (const QByteArray& t : texts)
        values.push_back(t.constData());
    PGresult* result = PQexecPrepared(connection, read.name.constData(), int(values.size()),
                                      values.data(), nullptr, nullptr, 0);
    struct Clear {
        PGresult* result;
        ~Clear() { PQclear(result); }
    } clear{result};
    if (PQresultStatus(result) != PGRES_TUPLES_OK)
        fail(QStringLiteral("executar a consulta"), QString::fromUtf8(PQerrorMessage(connection)) +
                                                        QStringLiteral(" [") +
                                                        QString::fromUtf8(sql) + u']');
    return postgresPacket(result, read.head, fields);
}

std::optional<bool> Storage::readAhead(const std::vector<PlannedRead>& reads, bool lookForChanges) {
    m_readAhead.clear();
    PGconn* connection = postgresConnection();
    if (connection)
        // What the driver left of its last statement, discarded as PQexec would.
        while (PGresult* left = PQgetResult(connection))
            PQclear(left);
    // The first look of a connection sends LISTEN: that one is made alone.
    if (!connection || m_suspect || (lookForChanges && !m_listening) ||
        PQtransactionStatus(connection) != PQTRANS_IDLE)
        return lookForChanges ? changedElsewhere() : std::nullopt;
    try {
        for (const PlannedRead& r : reads)
            preparedPostgresRead(connection, r.sql, *r.fields);
    } catch (const ServiceError&) {
        return lookForChanges ? changedElsewhere() : std::nullopt;
    }
    // Taken once every statement is prepared: preparing one moves the others.
    std::vector<const PostgresRead*> prepared;
    for (const PlannedRead& r : reads)
        prepared.push_back(&*m_postgresReads.constFind(r.sql));
    if (!PQenterPipelineMode(connection)) return lookForChanges ? changedElsewhere() : std::nullopt;
    // Sent one after another and synced once: the database answers them all in one reply.
    bool sent = !lookForChanges ||
                PQsendQueryParams(connection, "", 0, nullptr, nullptr, nullptr, nullptr, 0);
    for (size_t i = 0; sent && i < reads.size(); ++i) {
        const QByteArray text = reads[i].parameter.toUtf8();
        const char* value = text.constData();
        sent = PQsendQueryPrepared(connection, prepared[i]->name.constData(), 1, &value, nullptr,
                                   nullptr, 0);
    }
    std::optional<bool> changed;
    bool looked = false;
    if (sent && PQpipelineSync(connection)) {
        bool changedNow = m_notified;
        looked = !lookForChanges;
        for (size_t i = 0, count = reads.size() + (lookForChanges ? 1 : 0); i < count; ++i) {
            PGresult* result = PQgetResult(connection);
            if (!result) break;
            const ExecStatusType status = PQresultStatus(result);
            if (lookForChanges && i == 0)
                looked = status == PGRES_EMPTY_QUERY;
            else if (status == PGRES_TUPLES_OK) {
                const size_t r = i - (lookForChanges ? 1 : 0);
                m_readAhead.push_back(
                    {reads[r].sql, reads[r].parameter,
                     postgresPacket(result, prepared[r]->head, *reads[r].fields)});
            }
            PQclear(result);
            // Each statement's results end with a null.
            while ((result = PQgetResult(connection)) &&
                   PQresultStatus(result) != PGRES_PIPELINE_SYNC)
                PQclear(result);
            if (result) { // the sync came early: the rest was not run
                PQclear(result);
                break;
            }
        }
        if (looked && lookForChanges) {
            while (PGnotify* n = PQnotifies(connection)) {
                changedNow = true;
                PQfreemem(n);
            }
            m_notified = false;
            changed = changedNow;
        }
    }
    // Up to the sync: then the connection takes ordinary commands again.
    for (int left = 4096; left > 0 && PQpipelineStatus(connection) != PQ_PIPELINE_OFF; --left) {
        if (PQexitPipelineMode(connection)) break;
        PGresult* result = PQgetResult(connection);
        if (!result && PQstatus(connection) != CONNECTION_OK) break;
        PQclear(result);
    }
    if (PQpipelineStatus(connection) != PQ_PIPELINE_OFF || !looked) {
        m_readAhead.clear();
        m_suspect = true;
    }
    return changed;
}

std::string Storage::readPacketFromSqlite(const char* sql, const QVariantList& params,
                                          const QVector<FieldSpec>& fields) {
    sqlite3* handle = sqliteHandle();
    if (!handle) fail(QStringLiteral("ler do banco"), QStringLiteral("a conexão não está aberta"));
    SqliteRead& read = m_sqliteReads[sql];
    if (!read.statement) {
        if (sqlite3_prepare_v3(handle, sql, -1, SQLITE_PREPARE_PERSISTENT, &read.statement,
                               nullptr) != SQLITE_OK) {
            const QString error = QString::fromUtf8(sqlite3_errmsg(handle));
            m_sqliteReads.remove(sql);
            fail(QStringLiteral("preparar a consulta"), error);
        }
        read.head = packetHead(fields);
    }
    int status = SQLITE_DONE;
    std::string rows = sqlitePacket(read.statement, read.head, params, fields, &status);
    if (status != SQLITE_DONE)
        fail(QStringLiteral("executar a consulta"), QString::fromUtf8(sqlite3_errstr(status)) +
                                                        QStringLiteral(" [") +
                                                        QString::fromUtf8(sql) + u']');
    return rows;
}

} // namespace rhserver
