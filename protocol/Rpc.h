#pragma once
// JSON-RPC 2.0 over newline-delimited messages: codes, request and response texts, framing.

#include "PacketJson.h"

#include <QByteArray>
#include <memory>
#include <optional>
#include <variant>

namespace protocol {

namespace ErrorCode {
constexpr int ParseError = -32700;
constexpr int InvalidRequest = -32600; // also: message too large
constexpr int MethodNotFound = -32601;
constexpr int InvalidParams = -32602;
constexpr int UnknownObject = -32001;
constexpr int NotOpen = -32002;
constexpr int NotAuthorised = -32003;
constexpr int Conflict = -32010;
constexpr int Refused = -32011;
// The database connection was lost while a commit was on its way: whether it was stored could
// not be learned. Neither a success nor "nothing stored".
constexpr int OutcomeUnknown = -32012;
// The connection was closed for being idle: nothing sent after this line was read, so a client
// may send its unanswered call again on a new connection.
constexpr int ClosedIdle = -32013;
constexpr int StorageFailure = -32000;
} // namespace ErrorCode

constexpr qsizetype DefaultMaxMessage = 16 * 1024 * 1024;

// One positional argument of a call: a text or a delta.
using Argument = std::variant<QString, Delta>;

struct OpenParams {
    QString object;
    QString branch;
    QString token;
};

std::string requestJson(std::int64_t id, const QString& method, const QVector<Argument>& params);
std::string openRequestJson(std::int64_t id, const OpenParams& params);

// What a call brought back: a result (as its JSON text, unless dropped for a packet) or an error.
struct Response {
    std::int64_t id = 0;
    bool hasId = false; // false: the id was null or missing, as a server closing a connection says
    bool ok = false;
    int errorCode = 0;
    QString errorMessage;
    std::string resultJson;
    // A notice the server sent unasked (no id, a method): its method and params as JSON text.
    bool notice = false;
    std::string noticeMethod;
    std::string noticeParamsJson;
    // A result that is a data packet is read here, once: the packet, or why it is not valid.
    bool resultRead = false;
    std::shared_ptr<const PacketColumns> packet;
    QString packetProblem;
};

// Whether a result read as a data packet also keeps its JSON text. A record set takes the
// packet; for it the text would be a copy of the whole reply that nobody reads.
enum class PacketText { Kept, Dropped };

// Throws ProtocolError when the text is neither a response nor a notice.
Response parseResponse(std::string_view line, simdjson::dom::parser& parser,
                       PacketText packetText = PacketText::Kept);
// The rows of a result: the packet read with the response, or its text read now. Throws
// ProtocolError when it is no valid packet.
DataPacket resultPacket(const Response& r);

std::string resultJson(std::string_view idJson, std::string_view result);
std::string errorJson(std::string_view idJson, int code, const QString& message);
// A notification: a request without id, which nobody answers.
std::string noticeJson(std::string_view method, std::string_view paramsJson);

// Splits a byte stream into lines; a line over the limit is an overflow, not a line.
class LineReader {
public:
    explicit LineReader(qsizetype maxLine = DefaultMaxMessage)
        : m_max(maxLine) {}
    void append(const QByteArray& data) { m_buffer.append(data); }
    // The next whole line without its newline, if any.
    std::optional<QByteArray> takeLine();
    // True when the next line, whole or not yet, is longer than the limit; check before takeLine.
    bool overflowed();
    qsizetype buffered() const { return m_buffer.size() - m_start; }
    // Bytes held, consumed or not: what the reader costs in memory.
    qsizetype held() const { return m_buffer.capacity(); }
    void setLimit(qsizetype maxLine) { m_max = maxLine; }

private:
    QByteArray m_buffer;
    qsizetype m_start = 0;
    qsizetype m_scanned = 0;
    qsizetype m_max;
};

} // namespace protocol
