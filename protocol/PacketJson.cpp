#include "PacketJson.h"

#include "JsonCheck.h"

#include <QSet>

#include <climits>

namespace protocol {

namespace dom = simdjson::dom;

QString toQString(std::string_view utf8) {
    // QString::fromUtf8 drops a leading byte-order mark; here it is a character like any other.
    if (utf8.size() >= 3 && utf8.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return QChar(0xFEFF) + toQString(utf8.substr(3));
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

void writeValue(JsonWriter& out, const FieldSpec& field, const QVariant& value) {
    if (value.isNull()) {
        out.null();
        return;
    }
    switch (field.type) {
    case FieldType::String:
        out.string(value.toString());
        break;
    case FieldType::Float:
        out.number(value.toDouble());
        break;
    case FieldType::Date:
        // A value that is no day goes as null: a date field's readers refuse anything else.
        if (const QDate day = value.toDate(); day.isValid())
            out.string(day.toString(Qt::ISODate));
        else
            out.null();
        break;
    }
}

void writeFields(JsonWriter& out, const QVector<FieldSpec>& fields) {
    out.key("fields");
    out.beginArray();
    for (const FieldSpec& f : fields) {
        out.beginObject();
        out.key("name");
        out.string(f.name);
        out.key("type");
        out.string(typeName(f.type));
        if (f.type == FieldType::String) {
            out.key("size");
            out.integer(f.size);
        }
        out.endObject();
    }
    out.endArray();
}

namespace {

void writeRow(JsonWriter& out, const QVector<FieldSpec>& fields, const Row& row) {
    out.beginArray();
    for (int i = 0; i < fields.size(); ++i)
        writeValue(out, fields[i], i < row.size() ? row[i] : QVariant());
    out.endArray();
}

[[noreturn]] void fail(const QString& message) {
    throw ProtocolError(message);
}

QVector<FieldSpec> parseFields(dom::object object) {
    dom::array array;
    if (object["fields"].get(array)) fail(QStringLiteral("pacote sem a lista de campos"));
    const size_t count = array.size();
    if (count > size_t(MaxFields))
        throw ProtocolError(QStringLiteral("o pacote tem %1 campos, mais que o limite de %2")
                                .arg(count)
                                .arg(MaxFields),
                            ProtocolError::Kind::TooLarge);
    QVector<FieldSpec> fields;
    fields.reserve(static_cast<qsizetype>(count));
    // Field names match without regard to case, so they are compared case-folded.
    QSet<QString> seen;
    for (dom::element e : array) {
        dom::object fo;
        std::string_view name, type;
        if (e.get(fo) || fo["name"].get(name) || fo["type"].get(type))
            fail(QStringLiteral("definição de campo inválida no pacote"));
        FieldSpec f;
        f.name = toQString(name);
        if (f.name.isEmpty()) fail(QStringLiteral("campo sem nome no pacote"));
        if (type == "string") {
            int64_t size = 0;
            if (fo["size"].get(size) || size <= 0 || size > 1'000'000)
                fail(QStringLiteral("o campo %1 não tem um tamanho válido").arg(f.name));
            f.type = FieldType::String;
            f.size = static_cast<int>(size);
        } else if (type == "float") {
            f.type = FieldType::Float;
        } else if (type == "date") {
            f.type = FieldType::Date;
        } else {
            fail(QStringLiteral("o campo %1 tem um tipo desconhecido: %2")
                     .arg(f.name, toQString(type)));
        }
        const QString folded = f.name.toCaseFolded();
        if (seen.contains(folded))
            fail(QStringLiteral("o campo %1 aparece duas vezes no pacote").arg(f.name));
        seen.insert(folded);
        fields.push_back(f);
    }
    return fields;
}

// Where a value sits, for the refusal's text; made into words only when something is refused.
struct Where {
    const char* noun; // "a linha", "a alteração"
    int number;
    QString text() const {
        return QStringLiteral("%1 %2").arg(QString::fromUtf8(noun)).arg(number);
    }
};

// Characters a UTF-8 text takes in UTF-16: one per sequence, two for those past U+FFFF.
qsizetype utf16Length(std::string_view utf8) {
    qsizetype n = 0;
    for (const char ch : utf8) {
        const auto byte = static_cast<unsigned char>(ch);
        if ((byte & 0xC0) != 0x80) ++n; // not a continuation byte
        if (byte >= 0xF0) ++n;          // a four-byte sequence: a surrogate pair
    }
    return n;
}

// One value of a packet or delta, checked against its field but not yet made into a QVariant.
struct Cell {
    enum class Kind { Null, Text, Number, Date } kind = Kind::Null;
    std::string_view text;
    double number = 0;
    QDate date;
};

Cell readCell(const FieldSpec& field, dom::element e, const Where& at) {
    Cell cell;
    if (e.is_null()) return cell;
    switch (field.type) {
    case FieldType::String: {
        std::string_view s;
        if (e.get(s))
            fail(QStringLiteral("%1: o campo %2 espera texto").arg(at.text(), field.name));
        if (hasUnstorableCharacter(s))
            throw ProtocolError(
                QStringLiteral("%1: o texto do campo %2 tem %3, que não pode ser gravado")
                    .arg(at.text(), field.name, QString::fromUtf8(UnstorableCharacterText)),
                ProtocolError::Kind::Unstorable);
        if (qsizetype(s.size()) > field.size && utf16Length(s) > field.size)
            fail(QStringLiteral("%1: o texto do campo %2 passa de %3 caracteres")
                     .arg(at.text(), field.name)
                     .arg(field.size));
        cell.kind = Cell::Kind::Text;
        cell.text = s;
        return cell;
    }
    case FieldType::Float: {
        double d;
        if (e.is_int64())
            d = static_cast<double>(int64_t(e));
        else if (e.is_uint64())
            d = static_cast<double>(uint64_t(e));
        else if (e.get(d))
            fail(QStringLiteral("%1: o campo %2 espera um número").arg(at.text(), field.name));
        cell.kind = Cell::Kind::Number;
        cell.number = d;
        return cell;
    }
    case FieldType::Date: {
        std::string_view s;
        if (e.get(s))
            fail(QStringLiteral("%1: o campo %2 espera uma data").arg(at.text(), field.name));
        const QDate date = QDate::fromString(toQString(s), Qt::ISODate);
        // Qt also reads "2026/01/05" as ISO; the wire carries only "YYYY-MM-DD".
        if (s.size() != 10 || s[4] != '-' || s[7] != '-' || !date.isValid())
            fail(QStringLiteral("%1: o campo %2 tem uma data inválida: %3")
                     .arg(at.text(), field.name, toQString(s)));
        cell.kind = Cell::Kind::Date;
        cell.date = date;
        return cell;
    }
    }
    return cell;
}

QVariant parseValue(const FieldSpec& field, dom::element e, const Where& at) {
    const Cell cell = readCell(field, e, at);
    switch (cell.kind) {
    case Cell::Kind::Null:
        return {};
    case Cell::Kind::Text:
        return toQString(cell.text);
    case Cell::Kind::Number:
        return cell.number;
    case Cell::Kind::Date:
        return cell.date;
    }
    return {};
}

// The values of one row, after checking that it is a list of the right length.
dom::array rowValues(const QVector<FieldSpec>& fields, dom::element e, const Where& at) {
    dom::array array;
    if (e.get(array)) fail(QStringLiteral("%1 não é uma lista de valores").arg(at.text()));
    if (array.size() != static_cast<size_t>(fields.size()))
        fail(QStringLiteral("%1 tem %2 valores, mas o pacote tem %3 campos")
                 .arg(at.text())
                 .arg(array.size())
                 .arg(fields.size()));
    return array;
}

Row parseRow(const QVector<FieldSpec>& fields, dom::element e, const Where& at) {
    Row row(fields.size());
    QVariant* out = row.data();
    int i = 0;
    for (dom::element v : rowValues(fields, e, at)) {
        out[i] = parseValue(fields[i], v, at);
        ++i;
    }
    return row;
}

} // namespace

void writePacket(JsonWriter& out, const DataPacket& packet) {
    out.beginObject();
    writeFields(out, packet.fields);
    out.key("rows");
    out.beginArray();
    for (const Row& row : packet.rows)
        writeRow(out, packet.fields, row);
    out.endArray();
    out.endObject();
}

void writeDelta(JsonWriter& out, const Delta& delta) {
    out.beginObject();
    writeFields(out, delta.fields);
    out.key("changes");
    out.beginArray();
    for (const DeltaChange& c : delta.changes) {
        out.beginObject();
        out.key("op");
        out.string(c.op == DeltaChange::Op::Insert ? "insert" : "update");
        if (c.op == DeltaChange::Op::Update) {
            out.key("old");
            writeRow(out, delta.fields, c.oldValues);
        }
        out.key("new");
        writeRow(out, delta.fields, c.newValues);
        out.endObject();
    }
    out.endArray();
    out.endObject();
}

std::string packetToJson(const DataPacket& packet) {
    JsonWriter w;
    writePacket(w, packet);
    return w.take();
}

std::string deltaToJson(const Delta& delta) {
    JsonWriter w;
    writeDelta(w, delta);
    return w.take();
}

PacketColumns parseColumns(dom::element element) {
    dom::object object;
    if (element.get(object)) fail(QStringLiteral("o pacote de dados não é um objeto"));
    PacketColumns packet(parseFields(object));
    const QVector<FieldSpec>& fields = packet.fields();
    dom::array rows;
    if (object["rows"].get(rows)) fail(QStringLiteral("pacote sem a lista de linhas"));
    const int rowCount = int(std::min<size_t>(rows.size(), size_t(INT_MAX)));
    packet.reserve(rowCount);
    // Only a large packet sizes its texts ahead; a small one grows them as it goes.
    const bool large = rowCount > 256;
    int n = 0;
    for (dom::element r : rows) {
        if (large && n == 64) packet.reserveTexts(rowCount);
        const Where at{"a linha", ++n};
        int i = 0;
        for (dom::element v : rowValues(fields, r, at)) {
            const Cell cell = readCell(fields[i], v, at);
            switch (cell.kind) {
            case Cell::Kind::Null:
                packet.appendNull(i);
                break;
            case Cell::Kind::Text:
                packet.appendText(i, cell.text);
                break;
            case Cell::Kind::Number:
                packet.appendNumber(i, cell.number);
                break;
            case Cell::Kind::Date:
                packet.appendDate(i, cell.date);
                break;
            }
            ++i;
        }
        packet.endRow();
    }
    if (large) packet.finish();
    return packet;
}

DataPacket parsePacket(dom::element element) {
    return parseColumns(element).toPacket();
}

Delta parseDelta(dom::element element) {
    dom::object object;
    if (element.get(object)) fail(QStringLiteral("o pacote de alterações não é um objeto"));
    Delta delta;
    delta.fields = parseFields(object);
    dom::array changes;
    if (object["changes"].get(changes)) fail(QStringLiteral("pacote sem a lista de alterações"));
    const size_t count = changes.size();
    if (count > size_t(MaxChanges))
        throw ProtocolError(QStringLiteral("o pacote tem %1 alterações, mais que o limite de %2")
                                .arg(count)
                                .arg(MaxChanges),
                            ProtocolError::Kind::TooLarge);
    delta.changes.reserve(static_cast<qsizetype>(count));
    int n = 0;
    for (dom::element c : changes) {
        ++n;
        dom::object co;
        std::string_view op;
        if (c.get(co) || co["op"].get(op))
            fail(QStringLiteral("a alteração %1 não diz a operação").arg(n));
        DeltaChange change;
        const Where at{"a alteração", n};
        dom::element values;
        if (op == "update") {
            change.op = DeltaChange::Op::Update;
            if (co["old"].get(values))
                fail(QStringLiteral("%1 não traz os valores antigos").arg(at.text()));
            change.oldValues = parseRow(delta.fields, values, at);
        } else if (op == "insert") {
            change.op = DeltaChange::Op::Insert;
        } else {
            fail(QStringLiteral("%1 tem uma operação desconhecida: %2")
                     .arg(at.text(), toQString(op)));
        }
        if (co["new"].get(values))
            fail(QStringLiteral("%1 não traz os valores novos").arg(at.text()));
        change.newValues = parseRow(delta.fields, values, at);
        delta.changes.push_back(std::move(change));
    }
    return delta;
}

namespace {
dom::element parseDocument(dom::parser& parser, std::string_view json) {
    dom::element e;
    if (parser.parse(json.data(), json.size()).get(e)) fail(QStringLiteral("JSON inválido"));
    return e;
}
} // namespace

DataPacket packetFromJson(std::string_view json) {
    dom::parser parser;
    return parsePacket(parseDocument(parser, json));
}

Delta deltaFromJson(std::string_view json) {
    dom::parser parser;
    return parseDelta(parseDocument(parser, json));
}

} // namespace protocol
