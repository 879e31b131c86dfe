#include "Rpc.h"

namespace protocol {

namespace dom = simdjson::dom;

namespace {
void beginRequest(JsonWriter& w, std::int64_t id, std::string_view method) {
    w.beginObject();
    w.key("jsonrpc");
    w.string("2.0");
    w.key("id");
    w.integer(id);
    w.key("method");
    w.string(method);
    w.key("params");
}
// The result's own text when the line is laid out as this server writes it (jsonrpc, id and
// result, nothing else, in that order); empty otherwise, and the result is written anew.
std::string_view resultText(std::string_view line, dom::object object) {
    constexpr std::string_view head = R"({"jsonrpc":"2.0","id":)";
    constexpr std::string_view key = R"(,"result":)";
    if (object.size() != 3 || !line.starts_with(head)) return {};
    size_t at = head.size();
    if (at < line.size() && line[at] == '-') ++at;
    while (at < line.size() && line[at] >= '0' && line[at] <= '9')
        ++at;
    if (at == head.size() || line.substr(at, key.size()) != key) return {};
    std::string_view value = line.substr(at + key.size());
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!value.empty() && blank(value.back()))
        value.remove_suffix(1);
    if (value.empty() || value.back() != '}') return {};
    value.remove_suffix(1);
    while (!value.empty() && blank(value.back()))
        value.remove_suffix(1);
    while (!value.empty() && blank(value.front()))
        value.remove_prefix(1);
    return value;
}
} // namespace

std::string requestJson(std::int64_t id, const QString& method, const QVector<Argument>& params) {
    JsonWriter w;
    const QByteArray m = method.toUtf8();
    beginRequest(w, id, std::string_view(m.constData(), size_t(m.size())));
    w.beginArray();
    for (const Argument& a : params) {
        if (const auto* text = std::get_if<QString>(&a))
            w.string(*text);
        else
            writeDelta(w, std::get<Delta>(a));
    }
    w.endArray();
    w.endObject();
    return w.take() + '\n'; // the line ends after the value, not as another value
}

std::string openRequestJson(std::int64_t id, const OpenParams& p) {
    JsonWriter w;
    beginRequest(w, id, "open");
    w.beginObject();
    w.key("object");
    w.string(p.object);
    w.key("branch");
    w.string(p.branch);
    if (!p.token.isEmpty()) {
        w.key("token");
        w.string(p.token);
    }
    w.endObject();
    w.endObject();
    return w.take() + '\n';
}

Response parseResponse(std::string_view line, dom::parser& parser, PacketText packetText) {
    dom::element doc;
    dom::object object;
    if (parser.parse(line.data(), line.size()).get(doc) || doc.get(object))
        throw ProtocolError(QStringLiteral("resposta do servidor inválida"));
    Response r;
    int64_t id = 0;
    if (!object["id"].get(id)) {
        r.id = id;
        r.hasId = true;
    }
    dom::element result, error, params;
    std::string_view method;
    if (!r.hasId && !object["method"].get(method)) {
        r.notice = true;
        r.noticeMethod = std::string(method);
        if (!object["params"].get(params)) r.noticeParamsJson = simdjson::to_string(params);
        return r;
    }
    if (!object["result"].get(result)) {
        r.ok = true;
        r.resultRead = true;
        dom::object resultObject;
        dom::element fields;
        if (!result.get(resultObject) && !resultObject["fields"].get(fields)) {
            try {
                r.packet = std::make_shared<const PacketColumns>(parseColumns(result));
            } catch (const ProtocolError& e) {
                r.packetProblem = e.message();
            }
        }
        if (!r.packet || packetText == PacketText::Kept) {
            const std::string_view text = resultText(line, object);
            r.resultJson = text.empty() ? simdjson::to_string(result) : std::string(text);
        }
        return r;
    }
    dom::object eo;
    int64_t code = 0;
    std::string_view message;
    if (object["error"].get(eo) || eo["code"].get(code) || eo["message"].get(message))
        throw ProtocolError(QStringLiteral("resposta do servidor sem resultado nem erro"));
    r.errorCode = static_cast<int>(code);
    r.errorMessage = toQString(message);
    return r;
}

DataPacket resultPacket(const Response& r) {
    return r.packet ? r.packet->toPacket() : packetFromJson(r.resultJson);
}

std::string noticeJson(std::string_view method, std::string_view paramsJson) {
    JsonWriter w;
    w.beginObject();
    w.key("jsonrpc");
    w.string("2.0");
    w.key("method");
    w.string(method);
    w.key("params");
    w.raw(paramsJson);
    w.endObject();
    std::string out = w.take();
    out += '\n';
    return out;
}

std::string resultJson(std::string_view idJson, std::string_view result) {
    std::string out;
    out.reserve(result.size() + idJson.size() + 32);
    out += R"({"jsonrpc":"2.0","id":)";
    out += idJson;
    out += R"(,"result":)";
    out += result;
    out += "}\n";
    return out;
}

std::string errorJson(std::string_view idJson, int code, const QString& message) {
    JsonWriter w;
    w.beginObject();
    w.key("jsonrpc");
    w.string("2.0");
    w.key("id");
    w.raw(idJson.empty() ? std::string_view("null") : idJson);
    w.key("error");
    w.beginObject();
    w.key("code");
    w.integer(code);
    w.key("message");
    w.string(message);
    w.endObject();
    w.endObject();
    return w.take() + '\n';
}

std::optional<QByteArray> LineReader::takeLine() {
    const qsizetype nl = m_buffer.indexOf('\n', m_scanned);
    if (nl < 0) {
        m_scanned = m_buffer.size();
        return std::nullopt;
    }
    QByteArray line = m_buffer.mid(m_start, nl - m_start);
    if (line.endsWith('\r')) line.chop(1);
    m_start = nl + 1;
    m_scanned = m_start;
    if (m_start == m_buffer.size()) {
        // All consumed: a buffer grown by one large message is given back, a small one kept.
        if (m_buffer.capacity() > 65536)
            m_buffer = QByteArray();
        else
            m_buffer.resize(0);
        m_start = m_scanned = 0;
    } else if (m_start > 65536 && m_start * 2 > m_buffer.size()) {
        // Compact the buffer once the consumed part dominates it.
        m_buffer.remove(0, m_start);
        m_scanned -= m_start;
        m_start = 0;
    }
    return line;
}

bool LineReader::overflowed() {
    const qsizetype nl = m_buffer.indexOf('\n', m_scanned);
    if (nl < 0) {
        m_scanned = m_buffer.size();
        return m_buffer.size() - m_start > m_max;
    }
    m_scanned = nl;
    return nl - m_start > m_max;
}

} // namespace protocol
