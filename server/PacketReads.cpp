#include "Storage.h"

#include "protocol/JsonWriter.h"
#include "protocol/PacketJson.h"

#include <QDate>
#include <QSqlError>
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
    case FieldType::Date: {
        // Kept as ISO text; anything else is no date, written empty as before.
        const std::string_view text = columnText(statement, column);
        out.string(QDate::fromString(
                       QString::fromUtf8(text.data(), qsizetype(std::min<size_t>(text.size(), 10))),
                       Qt::ISODate)
                       .toString(Qt::ISODate));
        return;
    }
    }
}

} // namespace

std::string Storage::readPacket(const char* sql, const QVariantList& params,
                                const QVector<FieldSpec>& fields) {
    if (m_address.engine == Engine::SQLite) return readPacketFromSqlite(sql, params, fields);
    QSqlQuery& q = query(sql);
    for (int i = 0; i < params.size(); ++i)
        q.bindValue(i, params[i]);
    exec(q);
    protocol::DataPacket packet;
    packet.fields = fields;
    while (q.next()) {
        protocol::Row row;
        row.reserve(fields.size());
        for (int i = 0; i < fields.size(); ++i)
            row.push_back(read(fields[i], q.value(i)));
        packet.rows.push_back(std::move(row));
    }
    q.finish();
    return protocol::packetToJson(packet);
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
        protocol::JsonWriter head;
        head.beginObject();
        protocol::writeFields(head, fields);
        read.head = head.take() + ",\"rows\":";
    }
    sqlite3_stmt* statement = read.statement;
    // Whatever happens below, the statement ends reset and unbound, its read transaction over.
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
    int status;
    while ((status = sqlite3_step(statement)) == SQLITE_ROW) {
        out.beginArray();
        for (int i = 0; i < columns; ++i)
            writeColumn(out, fields[i], statement, i);
        for (int i = columns; i < fields.size(); ++i)
            out.null();
        out.endArray();
    }
    if (status != SQLITE_DONE)
        fail(QStringLiteral("executar a consulta"), QString::fromUtf8(sqlite3_errmsg(handle)) +
                                                        QStringLiteral(" [") +
                                                        QString::fromUtf8(sql) + u']');
    out.endArray();
    std::string packet;
    packet.reserve(read.head.size() + out.text().size() + 1);
    packet.append(read.head).append(out.text()).append(1, '}');
    return packet;
}

} // namespace rhserver
