#include "ParamService.h"

#include "History.h"
#include "Methods.h"

#include "contract/Lookups.h"

namespace rhserver {

namespace ErrorCode = protocol::ErrorCode;

namespace {

// Reads sent in one round trip at most: their replies fit the socket's buffers, so that the
// database never waits for us to read while we still send.
constexpr size_t MaxReadAhead = 64;

using Args = QVector<protocol::Argument>;

QString text(const Args& args, int i) {
    return std::get<QString>(args[i]);
}

// The reads by name; the writes are the two record deltas and the ties, as the contract says.
struct Read {
    QLatin1String name;
    std::string (*handler)(Methods&, const Args&);
};
namespace m = contract::method;
const Read reads[] = {
    {m::GetGeral, [](Methods& r, const Args& a) { return r.getGeral(text(a, 0)); }},
    {m::GetFilial, [](Methods& r, const Args& a) { return r.getFilial(text(a, 0)); }},
    {m::GetConvMed, [](Methods& r, const Args& a) { return r.getConvMed(text(a, 0), text(a, 1)); }},
    {m::GetInspecao, [](Methods& r, const Args& a) { return r.getInspecao(text(a, 0)); }},
    {m::GetCargo, [](Methods& r, const Args& a) { return r.getCargo(text(a, 0)); }},
    {m::GetDepto, [](Methods& r, const Args& a) { return r.getDepto(text(a, 0)); }},
    {m::GetHistorico,
     [](Methods& r, const Args& a) {
         return historyJson(r.s, {text(a, 0), text(a, 1), text(a, 2), text(a, 3)});
     }},
};

std::string run(Methods& work, const contract::Method& method, const Args& args) {
    if (method.record != contract::Record::None) {
        work.applyDelta(method.view(), recordTable(method.record),
                        std::get<protocol::Delta>(args[0]));
        return {};
    }
    if (method.tie.table != contract::Tie::Table::None) {
        work.tie(method.view(), method.tie, args);
        return {};
    }
    for (const Read& read : reads)
        if (read.name == method.name) return read.handler(work, args);
    if (const contract::Lookup* lookup = contract::findLookup(method.view()))
        return work.lookup(*lookup, args);
    throw ServiceError{protocol::ErrorCode::MethodNotFound,
                       QStringLiteral("O método \"%1\" não existe no servidor.").arg(method.name)};
}

} // namespace

std::string appliedJson(const QVector<protocol::Argument>& args) {
    protocol::JsonWriter w;
    w.beginArray();
    for (const protocol::Argument& a : args) {
        if (const auto* text = std::get_if<QString>(&a))
            w.string(*text);
        else
            protocol::writeDelta(w, std::get<protocol::Delta>(a));
    }
    w.endArray();
    return w.take();
}

void ParamService::startBatch(const std::vector<PlannedRead>& reads) {
    m_cache.startBatch();
    if (!readsAhead() || reads.empty()) return;
    bool look = false;
    std::vector<Storage::PlannedRead> ahead;
    for (const PlannedRead& r : reads) {
        const OneRecordRead* one = r.method ? oneRecordRead(*r.method) : nullptr;
        if (!one) continue;
        if (ReplyCache::keeps(*r.method) &&
            m_cache.find(ReplyCache::key(*r.method, appliedJson({r.argument}), r.branch))) {
            look = true;
            continue;
        }
        const bool twice = std::any_of(ahead.begin(), ahead.end(), [&](const auto& a) {
            return a.sql == one->sql && a.parameter == r.argument;
        });
        if (!twice && ahead.size() < MaxReadAhead)
            ahead.push_back({one->sql, &one->fields, r.argument});
    }
    if (ahead.empty() && !look) return;
    // As validate() does: the writes are counted before the database is asked.
    const quint64 writes = ReplyCache::writesCommitted();
    const std::optional<bool> changed = m_storage.readAhead(ahead, look);
    if (look) m_cache.validate(writes, changed);
    m_readAhead = {writes, m_storage.connectionCount()};
}

std::optional<CommitOutcome> ParamService::endGroup() {
    if (!m_storage.groupPending()) return std::nullopt;
    const CommitOutcome outcome = m_storage.endGroup();
    // The group's writes were taken as committed when released; now they are, or are gone, or
    // may be: kept replies are not trusted either way.
    ReplyCache::writeCommitted();
    return outcome;
}

void ParamService::auditRefusal(const SessionInfo& session, const contract::Method& method,
                                size_t bytes, qint64 unrecorded) {
    protocol::JsonWriter w;
    w.beginObject();
    w.key("bytes");
    w.integer(std::int64_t(bytes));
    w.key("naoRegistradas");
    w.integer(unrecorded);
    w.endObject();
    std::string arguments = "[";
    arguments.append(w.text()).append(1, ']');
    endGroupFirst();
    m_storage.heal();
    Methods(m_storage, session, arguments).recordRefusal(method.view());
}

void ParamService::ping() {
    endGroupFirst();
    m_storage.heal();
    try {
        try {
            m_storage.checkWritable();
        } catch (const ServiceError&) {
            // A connection lost since the last call (a database restart, say) is made again and
            // asked once more: the health check tells what the database can do now.
            if (!m_storage.heal()) throw;
            m_storage.checkWritable();
        }
    } catch (const ServiceError&) {
        // A file gone or a full disk is told as such; any other cause is in the log.
        const QString cause = m_storage.fileProblem();
        throw ServiceError{ErrorCode::StorageFailure,
                           !cause.isEmpty()
                               ? cause
                               : QStringLiteral("O banco de dados não aceita gravações agora; o "
                                                "motivo está no registro do servidor.")};
    }
}

bool ParamService::branchExists(const QString& code) {
    endGroupFirst();
    m_storage.heal();
    const SessionInfo none;
    return Methods(m_storage, none, {}).exists(filialRef, code);
}

std::string ParamService::call(const SessionInfo& session, const contract::Method& method,
                               const QVector<protocol::Argument>& args,
                               std::string_view paramsJson) {
    if (!method.writes) endGroupFirst();
    m_storage.heal();
    if (m_storage.hasReadAhead() && !m_readAhead.fresh(m_storage)) m_storage.dropReadAhead();
    Methods work(m_storage, session, paramsJson);
    if (method.writes) {
        m_storage.setGrouping(m_grouping);
        struct Ungroup {
            Storage& s;
            ~Ungroup() { s.setGrouping(false); }
        } ungroup{m_storage};
        // A write answers true once done (in a group, once the group commits); its caller drops
        // the result.
        run(work, method, args);
        return "true";
    }
    if (!ReplyCache::keeps(method)) return run(work, method, args);
    std::string key = ReplyCache::key(method, paramsJson, session.branch);
    // Asking whether anything changed costs a statement: it is asked only before a kept reply is
    // served. A reply read now and kept is dropped at the next asking if anything changed since
    // the last one, which is all the asking could tell about it.
    if (m_cache.find(key)) {
        if (!m_cache.validate()) return run(work, method, args);
        if (const std::string* kept = m_cache.find(key)) return *kept;
    }
    std::string result = run(work, method, args);
    m_cache.store(std::move(key), result);
    return result;
}

} // namespace rhserver
