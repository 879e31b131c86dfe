#include "Consiste.h"

#include "Exceptions.h"
#include "HostServices.h"

bool EmptyString(const QString& text) {
    return text.trimmed().isEmpty();
}

QString Ajusta(const QString& text, int width) {
    const QString trimmed = text.trimmed();
    if (trimmed.size() >= width) return trimmed;
    return QString(width - trimmed.size(), u'0') + trimmed;
}

void MensErro(const QString& text, bool stop) {
    host().showError(text);
    if (stop) Abort();
}

std::shared_ptr<const protocol::PacketColumns>
CheckResultColumns(const protocol::Response& result) {
    if (!result.ok) throw EServerError(result.errorMessage, result.errorCode);
    if (result.resultRead) {
        if (!result.packetProblem.isEmpty())
            throw EServerError(QStringLiteral("O servidor devolveu um pacote inválido: %1.")
                                   .arg(result.packetProblem));
        return result.packet; // null: a write's answer
    }
    // A response made by hand rather than read from the wire.
    simdjson::dom::parser parser;
    simdjson::dom::element doc;
    if (parser.parse(result.resultJson).get(doc))
        throw EServerError(QStringLiteral("O servidor devolveu uma resposta ilegível."));
    simdjson::dom::object object;
    simdjson::dom::element fields;
    if (doc.get(object) || object["fields"].get(fields)) return {}; // a write method's answer
    try {
        return std::make_shared<const protocol::PacketColumns>(protocol::parseColumns(doc));
    } catch (const protocol::ProtocolError& e) {
        throw EServerError(
            QStringLiteral("O servidor devolveu um pacote inválido: %1.").arg(e.message()));
    }
}

protocol::DataPacket CheckResultServ(const protocol::Response& result, bool /*showError*/,
                                     int /*number*/) {
    const auto packet = CheckResultColumns(result);
    return packet ? packet->toPacket() : protocol::DataPacket{};
}
