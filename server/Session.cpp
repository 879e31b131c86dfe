#include "Session.h"

#include "Freshness.h"
#include "Log.h"

#include "contract/Notices.h"
#include "protocol/JsonCheck.h"

namespace rhserver {

namespace dom = simdjson::dom;
namespace ErrorCode = protocol::ErrorCode;

namespace {
constexpr size_t SmallDocument = 64 * 1024;

QString methodText(std::string_view method) {
    const QString name = protocol::toQString(method);
    return name.size() > 40 ? name.left(40) + QStringLiteral("…") : name;
}

// Compares in a time that depends on the lengths only, never on where the texts differ.
bool sameSecret(std::string_view given, const QByteArray& secret) {
    unsigned char difference = given.size() == size_t(secret.size()) ? 0 : 1;
    for (size_t i = 0; i < given.size(); ++i)
        difference |= static_cast<unsigned char>(given[i]) ^
                      static_cast<unsigned char>(
                          secret.isEmpty() ? 0 : secret[qsizetype(i % size_t(secret.size()))]);
    return difference == 0;
}

} // namespace

bool AuthThrottle::failed(const QString& peer) {
    std::lock_guard lock(m_mutex);
    // Many addresses at once: forget them all rather than grow without bound.
    if (m_entries.size() > 10000) m_entries.clear();
    Entry& e = m_entries[peer];
    // Failures expire with time alone; nobody's success forgets them.
    if (e.last.isValid() && e.last.elapsed() >= PauseMs) e.failures = 0;
    ++e.failures;
    e.last.start();
    if (e.lastRecent.isValid() && e.lastRecent.elapsed() >= ForgetMs) e.recent = 0;
    ++e.recent;
    e.lastRecent.start();
    return e.failures <= MaxFailures;
}

qint64 AuthThrottle::verdictWait(const QString& peer, qint64 latestMs) {
    std::lock_guard lock(m_mutex);
    const auto found = m_entries.find(peer);
    if (found == m_entries.end()) return 0;
    Entry& e = *found;
    if (e.lastRecent.isValid() && e.lastRecent.elapsed() >= ForgetMs) e.recent = 0;
    if (e.recent < FreeFailures) return 0;
    const int doublings = std::min(e.recent - FreeFailures, 8);
    const qint64 wait = std::min(FirstWaitMs << doublings, LastWaitMs);
    if (!e.clock.isValid()) e.clock.start();
    const qint64 now = e.clock.elapsed();
    const qint64 turn = std::max(now, e.nextTurn) + wait;
    if (turn - now > latestMs) return -1;
    e.nextTurn = turn;
    return turn - now;
}

bool RefusalLimit::mayRecord(const QString& token, qint64* skipped) {
    std::lock_guard lock(m_mutex);
    Entry& e = m_entries[token];
    if (e.last.isValid() && e.last.elapsed() < WindowMs) {
        ++e.skipped;
        return false;
    }
    e.last.start();
    *skipped = std::exchange(e.skipped, 0);
    return true;
}

Session::Session(const SessionConfig& config, ParamService& service, dom::parser& parser,
                 QString sessionId)
    : m_config(config)
    , m_service(&service)
    , m_parser(&parser) {
    m_info.sessionId = std::move(sessionId);
}

Session::Session(const SessionConfig& config, QString sessionId)
    : m_config(config)
    , m_service(nullptr)
    , m_parser(nullptr) {
    m_info.sessionId = std::move(sessionId);
}

Session::~Session() {
    setSubscriptions({});
}

void Session::setSubscriptions(QStringList records) {
    if (m_config.subscribers && m_subscriptions.isEmpty() != records.isEmpty())
        *m_config.subscribers += records.isEmpty() ? -1 : 1;
    m_subscriptions = std::move(records);
}

std::string Session::subscribe(std::string_view idJson, dom::element params, bool hasParams) {
    dom::array list;
    std::string_view text;
    if (!hasParams || params.get(list) || list.size() != 1 || list.at(0).get(text))
        return fail(idJson, ErrorCode::InvalidParams,
                    QStringLiteral("Assinar espera um argumento: os registros separados por "
                                   "vírgula, ou vazio para não assinar nenhum."));
    // Measured before anything is made of it: what it costs is bounded whatever was sent.
    if (text.size() > size_t(contract::MaxSubscriptionBytes))
        return fail(idJson, ErrorCode::InvalidParams,
                    QStringLiteral("A lista de registros a assinar é longa demais."));
    QString problem;
    std::optional<QStringList> records =
        contract::parseSubscription(protocol::toQString(text), &problem);
    if (!records) return fail(idJson, ErrorCode::InvalidParams, problem);
    const qsizetype count = records->size();
    setSubscriptions(std::move(*records));
    return protocol::resultJson(idJson, R"({"assinados":)" + std::to_string(count) + "}");
}

std::string Session::fail(std::string_view idJson, int code, const QString& message) {
    // The operator sees what was refused, to whom: method, session branch, code and sentence.
    m_lastFailure = QStringLiteral("%1 (filial %2): erro %3: %4")
                        .arg(m_method.isEmpty() ? QStringLiteral("-") : m_method,
                             m_info.branch.isEmpty() ? QStringLiteral("-") : m_info.branch)
                        .arg(code)
                        .arg(message);
    return protocol::errorJson(idJson, code, message);
}

std::string Session::lostWrite(std::string_view idJson) {
    return protocol::errorJson(
        idJson, ErrorCode::StorageFailure,
        QStringLiteral("O servidor não conseguiu gravar a alteração no banco de dados; "
                       "nada foi gravado. Tente de novo; se o problema continuar, avise "
                       "o administrador do sistema."));
}

std::optional<ParamService::PlannedRead>
Session::plannedRead(const QByteArray& line, dom::parser& parser, const QString& branch) {
    if (size_t(line.size()) > SmallDocument) return std::nullopt;
    dom::object request;
    std::string_view method;
    if (parser.parse(line.constData(), size_t(line.size())).get(request) ||
        request["method"].get(method))
        return std::nullopt;
    const contract::Method* entry = contract::findMethod(method);
    if (!entry || entry->writes) return std::nullopt;
    ParamService::PlannedRead read{nullptr, {}, branch};
    dom::array list;
    std::string_view text;
    if (entry->argc == 1 && !request["params"].get(list) && list.size() == 1 &&
        !list.at(0).get(text)) {
        read.method = entry;
        read.argument = protocol::toQString(text);
    }
    return read;
}

std::string Session::handle(const QByteArray& line, ParamService& service, dom::parser& parser) {
    m_service = &service;
    m_parser = &parser;
    return handle(line);
}

std::string Session::handle(const QByteArray& line) {
    m_lastFailure.clear();
    m_method.clear();
    m_keptResult.clear();
    m_idJson = "null";
    // The parser keeps the capacity of its largest document: after a large one it goes back to
    // a small size, so one big message does not cost its memory for the life of the thread.
    struct Shrink {
        dom::parser& parser;
        bool large;
        ~Shrink() {
            if (large) parser = dom::parser(); // allocate() would keep the document's tape
        }
    } shrink{*m_parser, size_t(line.size()) > SmallDocument};
    dom::element doc;
    if (m_parser->parse(line.constData(), size_t(line.size())).get(doc))
        return fail("null", ErrorCode::ParseError,
                    QStringLiteral("A mensagem recebida não é um JSON válido."));
    // JSON readers disagree on a repeated key, so the audit could say other than what was done.
    if (const auto key = protocol::duplicatedKey(doc))
        return fail("null", ErrorCode::InvalidRequest,
                    QStringLiteral("A requisição repete a chave \"%1\"; cada chave pode aparecer "
                                   "uma vez só em cada objeto.")
                        .arg(methodText(*key)));
    dom::object request;
    if (doc.get(request))
        return fail("null", ErrorCode::InvalidRequest,
                    QStringLiteral("A requisição deve ser um objeto JSON-RPC, um por linha."));
    dom::element id;
    if (request["id"].get(id))
        return fail("null", ErrorCode::InvalidRequest,
                    QStringLiteral("A requisição não tem identificador (id)."));
    if (!(id.is_string() || id.is_number() || id.is_null()))
        return fail(
            "null", ErrorCode::InvalidRequest,
            QStringLiteral("O identificador da requisição deve ser um número ou um texto."));
    m_idJson = simdjson::to_string(id);
    const std::string& idJson = m_idJson;
    std::string_view version, method;
    if (request["jsonrpc"].get(version) || version != "2.0")
        return fail(idJson, ErrorCode::InvalidRequest,
                    QStringLiteral("A requisição não segue o protocolo JSON-RPC 2.0."));
    if (request["method"].get(method))
        return fail(idJson, ErrorCode::InvalidRequest,
                    QStringLiteral("A requisição não diz o método a chamar."));
    m_method = methodText(method);
    dom::element params;
    const bool hasParams = !request["params"].get(params);
    try {
        return dispatch(idJson, method, params, hasParams);
    } catch (const ServiceError& e) {
        return fail(idJson, e.code, e.message);
    } catch (const std::exception& e) {
        logLine(QStringLiteral("falha inesperada em %1: %2")
                    .arg(methodText(method), QString::fromLocal8Bit(e.what())));
        return fail(
            idJson, ErrorCode::StorageFailure,
            QStringLiteral(
                "O servidor não conseguiu concluir a operação. Tente de novo; se o problema "
                "continuar, avise o administrador do sistema."));
    }
}

std::string Session::openSession(std::string_view idJson, dom::element params, bool hasParams) {
    dom::object p;
    std::string_view object, branch, token;
    if (!hasParams || params.get(p) || p["object"].get(object) || p["branch"].get(branch))
        return fail(
            idJson, ErrorCode::InvalidParams,
            QStringLiteral("O método open espera um objeto com os textos object e branch."));
    dom::element tokenElement;
    const bool hasToken = !p["token"].get(tokenElement);
    if (hasToken && tokenElement.get(token))
        return fail(idJson, ErrorCode::InvalidParams,
                    QStringLiteral("O token de acesso deve ser um texto."));
    if (!m_config.tokens.isEmpty()) {
        // Every token is compared, so the time taken does not tell which one came close.
        const AccessToken* match = nullptr;
        for (const AccessToken& t : m_config.tokens)
            if (hasToken && sameSecret(token, t.secret.toUtf8()) && !match) match = &t;
        // A right token is never refused: behind a balancer every desktop shares an address,
        // and anyone's wrong guesses would lock them all out. A wrong one ends the connection,
        // so each guess costs a connection, and guesses from a busy address are refused.
        if (!match) {
            m_endAfterAnswer = true;
            AuthThrottle* throttle = m_config.throttle;
            if (throttle && !throttle->failed(m_peer))
                return fail(idJson, ErrorCode::NotAuthorised,
                            QStringLiteral("Acesso não autorizado: tentativas demais com um "
                                           "token errado; aguarde alguns segundos."));
            return fail(idJson, ErrorCode::NotAuthorised,
                        QStringLiteral("Acesso não autorizado: o token de acesso não confere "
                                       "com o do servidor."));
        }
        m_info.tokenName = match->name;
        m_info.readOnly = match->role == Role::Reader;
    }
    if (QLatin1String(object.data(), qsizetype(object.size())) != contract::ServerObjectName)
        return fail(idJson, ErrorCode::UnknownObject,
                    QStringLiteral("O objeto de servidor \"%1\" não existe neste servidor.")
                        .arg(methodText(object)));
    if (protocol::hasUnstorableCharacter(branch))
        return fail(idJson, ErrorCode::InvalidParams,
                    QStringLiteral("O código da filial tem %1.")
                        .arg(QString::fromUtf8(protocol::UnstorableCharacterText)));
    const QString code = protocol::toQString(branch);
    // No branch: a session for the desktop's lookups before a branch is chosen.
    if (!code.isEmpty() && !m_service->branchExists(code))
        return fail(idJson, ErrorCode::Refused,
                    QStringLiteral("A filial \"%1\" não está cadastrada; a conexão não foi aberta.")
                        .arg(code.left(40)));
    m_info.branch = code;
    m_open = true;
    // Every session opened is in the log, whatever the rate: a write in the audit can be traced
    // to the machine that made it.
    logLine(QStringLiteral("sessão %1 aberta por %2, token %3, filial %4")
                .arg(m_info.sessionId, m_peer.isEmpty() ? QStringLiteral("-") : m_peer,
                     m_info.tokenName.isEmpty() ? QStringLiteral("-") : m_info.tokenName,
                     code.isEmpty() ? QStringLiteral("-") : code));
    protocol::JsonWriter w;
    w.beginObject();
    w.key("session");
    w.string(m_info.sessionId);
    // So a client can offer only what the token may do.
    w.key("readOnly");
    w.boolean(m_info.readOnly);
    w.endObject();
    return protocol::resultJson(idJson, w.text());
}

std::string Session::dispatch(std::string_view idJson, std::string_view method, dom::element params,
                              bool hasParams) {
    if (method == "ping") {
        // Before open anyone may ask whether the process lives, and learns nothing more.
        if (!m_open) return protocol::resultJson(idJson, R"({"server":"rhserver"})");
        m_service->ping();
        return protocol::resultJson(idJson, R"({"server":"rhserver )" +
                                                m_config.serverVersion.toStdString() +
                                                R"(","database":"ok"})");
    }
    if (method == "open") return openSession(idJson, params, hasParams);
    // Before open every other name gets the same answer, so the method list is not told.
    if (!m_open)
        return fail(idJson, ErrorCode::NotOpen,
                    QStringLiteral("A conexão ainda não foi aberta: chame open antes de %1.")
                        .arg(methodText(method)));
    if (method == contract::SubscribeMethod.data()) return subscribe(idJson, params, hasParams);
    const contract::Method* entry = contract::findMethod(method);
    if (!entry)
        return fail(
            idJson, ErrorCode::MethodNotFound,
            QStringLiteral("O método \"%1\" não existe no servidor.").arg(methodText(method)));
    if (m_info.readOnly && entry->writes) {
        // Refused before the arguments are read: only their size is told.
        const size_t bytes = hasParams ? simdjson::to_string(params).size() : 0;
        qint64 skipped = 0;
        if (!m_config.refusals || m_config.refusals->mayRecord(m_info.tokenName, &skipped))
            m_service->auditRefusal(m_info, *entry, bytes, skipped);
        logClientEvent(
            m_peer, QStringLiteral("escrita recusada: o token %1 (leitura), de %2, chamou %3 com "
                                   "%4 bytes de argumentos")
                        .arg(m_info.tokenName, m_peer.isEmpty() ? QStringLiteral("-") : m_peer,
                             methodText(method))
                        .arg(bytes));
        return fail(idJson, ErrorCode::NotAuthorised,
                    QStringLiteral("Esta chave de acesso permite apenas consultar os parâmetros: "
                                   "nenhuma alteração foi gravada."));
    }
    QVector<protocol::Argument> args;
    if (std::string refused = readArguments(idJson, method, *entry, params, hasParams, args);
        !refused.empty())
        return refused;
    std::string result = m_service->call(m_info, *entry, args, appliedJson(args));
    if (result.size() <= m_keepUpTo && ReplyCache::keeps(*entry)) m_keptResult = result;
    return protocol::resultJson(idJson, result);
}

std::string Session::readArguments(std::string_view idJson, std::string_view method,
                                   const contract::Method& entry, dom::element params,
                                   bool hasParams, QVector<protocol::Argument>& args) {
    // Missing params read as an empty list; nothing below touches the document otherwise, since
    // an array that was never read has no tape behind it.
    dom::array list;
    if (hasParams && params.get(list))
        return fail(
            idJson, ErrorCode::InvalidParams,
            QStringLiteral("Os argumentos de %1 devem vir numa lista.").arg(methodText(method)));
    const int count = hasParams ? int(list.size()) : 0;
    if (count == 0 && entry.argc == 0) return {};
    if (count != entry.argc)
        return fail(idJson, ErrorCode::InvalidParams,
                    QStringLiteral("O método %1 espera %2 argumento(s), mas recebeu %3.")
                        .arg(methodText(method))
                        .arg(entry.argc)
                        .arg(count));
    if (entry.takesDelta) {
        dom::element delta = list.at(0);
        dom::object o;
        dom::array fields, changes;
        if (delta.get(o) || o["fields"].get(fields) || o["changes"].get(changes))
            return fail(
                idJson, ErrorCode::InvalidParams,
                QStringLiteral("O argumento de %1 deve ser um pacote de alterações, com campos e "
                               "alterações.")
                    .arg(methodText(method)));
        try {
            args.push_back(protocol::parseDelta(delta));
        } catch (const protocol::ProtocolError& e) {
            if (e.kind() == protocol::ProtocolError::Kind::TooLarge)
                return fail(idJson, ErrorCode::InvalidParams,
                            QStringLiteral("O pacote de alterações de %1 é grande demais: %2.")
                                .arg(methodText(method), e.message()));
            if (e.kind() == protocol::ProtocolError::Kind::Unstorable)
                return fail(idJson, ErrorCode::InvalidParams,
                            QStringLiteral("As alterações foram recusadas: %1.").arg(e.message()));
            return fail(idJson, ErrorCode::Refused,
                        QStringLiteral("As alterações foram recusadas: %1.").arg(e.message()));
        }
    } else {
        int n = 0;
        for (dom::element e : list) {
            ++n;
            std::string_view text;
            if (e.get(text))
                return fail(idJson, ErrorCode::InvalidParams,
                            QStringLiteral("O argumento %1 de %2 deve ser um texto.")
                                .arg(n)
                                .arg(methodText(method)));
            if (protocol::hasUnstorableCharacter(text))
                return fail(idJson, ErrorCode::InvalidParams,
                            QStringLiteral("O argumento %1 de %2 tem %3, que não pode ser gravado.")
                                .arg(n)
                                .arg(methodText(method),
                                     QString::fromUtf8(protocol::UnstorableCharacterText)));
            args.push_back(protocol::toQString(text));
        }
    }
    return {};
}

} // namespace rhserver
