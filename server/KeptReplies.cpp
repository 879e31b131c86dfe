#include "KeptReplies.h"

#include "Methods.h"
#include "ParamService.h"

#include "protocol/JsonCheck.h"

#include <sqlite3.h>

namespace rhserver {

namespace dom = simdjson::dom;

namespace {
// Requests this short are all the calls a kept reply can answer; longer lines go to the workers.
constexpr qsizetype MaxLine = 4096;
} // namespace

KeptReplies::KeptReplies(const DbAddress& address) {
    if (address.engine != Engine::SQLite) return;
    const QByteArray path = address.path.toUtf8();
    if (sqlite3_open_v2(path.constData(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK ||
        sqlite3_busy_timeout(m_db, 0) != SQLITE_OK || !m_look.prepare(m_db) ||
        sqlite3_prepare_v2(m_db, "BEGIN", -1, &m_begin, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(m_db, "COMMIT", -1, &m_commit, nullptr) != SQLITE_OK) {
        m_look.close();
        sqlite3_finalize(m_begin);
        sqlite3_finalize(m_commit);
        m_begin = m_commit = nullptr;
        sqlite3_close(m_db);
        m_db = nullptr;
        return;
    }
    // Due at once, it fires once the sockets that were ready in this turn of the loop were read.
    m_turnEnd.setSingleShot(true);
    m_turnEnd.setInterval(0);
    m_turnEnd.callOnTimeout([this] { answerWaiting(); });
}

KeptReplies::~KeptReplies() {
    for (const auto& [sql, read] : m_reads)
        sqlite3_finalize(read.statement);
    m_look.close();
    sqlite3_finalize(m_begin);
    sqlite3_finalize(m_commit);
    sqlite3_close(m_db);
}

bool KeptReplies::look() {
    const FileLook::Seen seen = m_look.look();
    if (seen != FileLook::Seen::Unchanged) {
        m_results.clear();
        m_bytes = 0;
    }
    return seen != FileLook::Seen::Unknown;
}

std::optional<KeptReplies::Request> KeptReplies::readRequest(const QByteArray& line,
                                                             const QString& branch) {
    if (!m_look.ready() || line.size() > MaxLine) return std::nullopt;
    dom::element doc;
    dom::object request;
    if (m_parser.parse(line.constData(), size_t(line.size())).get(doc) || doc.get(request) ||
        protocol::duplicatedKey(doc))
        return std::nullopt;
    dom::element id, params;
    std::string_view version, method;
    if (request["id"].get(id) || !(id.is_string() || id.is_number() || id.is_null()) ||
        request["jsonrpc"].get(version) || version != "2.0" || request["method"].get(method))
        return std::nullopt;
    const contract::Method* entry = contract::findMethod(method);
    if (!entry || entry->takesDelta || !ReplyCache::keeps(*entry)) return std::nullopt;
    dom::array list;
    if (request["params"].get(params) || params.get(list) || list.size() != size_t(entry->argc))
        return std::nullopt;
    Request r;
    for (dom::element e : list) {
        std::string_view text;
        if (e.get(text) || protocol::hasUnstorableCharacter(text)) return std::nullopt;
        r.args.push_back(protocol::toQString(text));
    }
    r.method = entry;
    // JSON never holds a raw newline, so the parts cannot run together.
    r.key = std::string(method) + '\n' + simdjson::to_string(list) + '\n' + branch.toStdString();
    r.idJson = simdjson::to_string(id);
    return r;
}

std::optional<std::string> KeptReplies::readNow(const Request& request) {
    const OneRecordRead* one = request.method ? oneRecordRead(*request.method) : nullptr;
    if (!one || !m_db) return std::nullopt;
    Read& read = m_reads[one->sql];
    if (!read.statement) {
        if (sqlite3_prepare_v3(m_db, one->sql, -1, SQLITE_PREPARE_PERSISTENT, &read.statement,
                               nullptr) != SQLITE_OK) {
            m_reads.erase(one->sql);
            return std::nullopt;
        }
        read.head = packetHead(one->fields);
    }
    int status = SQLITE_DONE;
    std::string result =
        sqlitePacket(read.statement, read.head, request.args, one->fields, &status);
    if (status != SQLITE_DONE) return std::nullopt;
    return result;
}

const std::string* KeptReplies::find(const std::string& key) {
    if (!m_results.count(key) || !look()) return nullptr;
    const auto found = m_results.find(key);
    return found == m_results.end() ? nullptr : &found->second;
}

void KeptReplies::store(const Stamp& before, std::string key, std::string result) {
    if (!before.known || result.size() > MaxResult || !look()) return;
    if (!m_look.unchangedSince(before)) return;
    keepReadNow(std::move(key), std::move(result));
}

void KeptReplies::keepReadNow(std::string key, std::string result) {
    if (result.size() > MaxResult) return;
    const size_t cost = key.size() + result.size();
    if (m_results.size() >= MaxEntries || m_bytes + cost > MaxBytes) {
        m_results.clear();
        m_bytes = 0;
    }
    if (m_results.try_emplace(std::move(key), std::move(result)).second) m_bytes += cost;
}

bool KeptReplies::mayAnswer(const Request& request) const {
    return m_results.count(request.key) || (request.method && oneRecordRead(*request.method));
}

void KeptReplies::answerInTurn(Request request, QObject* caller, Answer answer) {
    m_waiting.push_back({std::move(request), caller, std::move(answer)});
    // A call made from an answer of this turn waits for the next: its read transaction is open.
    if (m_connections <= 1 && !m_answeringTurn)
        answerWaiting();
    else if (!m_turnEnd.isActive())
        m_turnEnd.start();
}

void KeptReplies::answerWaiting() {
    if (m_waiting.empty() || m_answeringTurn) return;
    std::vector<Waiting> waiting = std::exchange(m_waiting, {});
    m_answeringTurn = true;
    struct TurnOver {
        bool& answering;
        ~TurnOver() { answering = false; }
    } turnOver{m_answeringTurn};
    // Nothing is read in a transaction left from an earlier turn, which would show what was
    // stored before it.
    if (m_db && !sqlite3_get_autocommit(m_db))
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    // Begun now, after every one of these calls was received: what a client saw acknowledged
    // before sending its call is in what they read.
    bool together = false;
    if (waiting.size() > 1) {
        together = sqlite3_step(m_begin) == SQLITE_DONE;
        sqlite3_reset(m_begin);
    }
    for (Waiting& w : waiting) {
        if (!w.caller) continue;
        if (const std::string* result = find(w.request.key)) {
            w.answer(w.request, result);
        } else if (std::optional<std::string> read = readNow(w.request)) {
            w.answer(w.request, &*read);
            keepReadNow(std::move(w.request.key), std::move(*read));
        } else {
            w.answer(w.request, nullptr);
        }
    }
    if (together) {
        sqlite3_step(m_commit);
        sqlite3_reset(m_commit);
        // A read transaction that would not end is rolled back: this connection only reads.
        if (!sqlite3_get_autocommit(m_db))
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

} // namespace rhserver
