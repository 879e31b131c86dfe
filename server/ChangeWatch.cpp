#include "ChangeWatch.h"

#include "Log.h"

#include "contract/Notices.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>
#include <string>
#include <vector>

namespace rhserver {

namespace {
// Rows read in one look at most; more wait for the next.
constexpr int RowsPerLook = 5000;
// Gaps looked at again in one statement.
constexpr int GapsPerRead = 32;

const char* const Columns =
    "SELECT NRAUDITORIA, DTAUDITORIA, NMTOKEN, NMMETODO, DSARGUMENTOS, IDRECUSADO, IDSESSAO "
    "FROM RHAUDITORIA ";

// One statement of a fixed text for every look at the gaps, the unused places bound to a number
// no row has.
const char* gapStatement() {
    static const std::string sql = [] {
        std::string text = std::string(Columns) + "WHERE NRAUDITORIA IN (?";
        for (int i = 1; i < GapsPerRead; ++i)
            text += ",?";
        return text + ")";
    }();
    return sql.c_str();
}

const char* newRowsStatement() {
    static const std::string sql = std::string(Columns) +
                                   "WHERE NRAUDITORIA > ? ORDER BY NRAUDITORIA LIMIT " +
                                   std::to_string(RowsPerLook);
    return sql.c_str();
}
} // namespace

ChangeWatch::ChangeWatch(const DbAddress& address, const std::atomic<int>& subscribers,
                         Deliver deliver)
    : m_address(address)
    , m_subscribers(subscribers)
    , m_deliver(std::move(deliver)) {
    m_clock.start();
}

ChangeWatch::~ChangeWatch() {
    finish();
}

QString ChangeWatch::launch() {
    auto ready = m_ready.get_future();
    start();
    return ready.get();
}

void ChangeWatch::finish() {
    quit();
    wait();
}

void ChangeWatch::run() {
    Storage storage(m_address);
    QString problem;
    if (!storage.open(&problem)) {
        m_ready.set_value(problem);
        return;
    }
    look(storage); // the newest number, before any client can subscribe
    m_ready.set_value({});
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [this, &storage, &timer] {
        look(storage);
        // Often while someone listens; otherwise only to keep the newest number at hand.
        const int every = m_subscribers.load() > 0 ? LookEveryMs : IdleLookEveryMs;
        if (timer.interval() != every) timer.setInterval(every);
    });
    timer.start(IdleLookEveryMs);
    exec();
}

void ChangeWatch::look(Storage& storage) {
    try {
        storage.heal();
        const std::optional<bool> changed = storage.changedElsewhere();
        if (!changed) return; // asked again at the next look, on a healed connection
        // While nobody listens the newest number is kept, so that a change right after a
        // subscription is told: only what was stored before it is nobody's news.
        if (m_newest < 0 || (*changed && m_subscribers.load() <= 0)) {
            QSqlQuery& newest = storage.query("SELECT MAX(NRAUDITORIA) FROM RHAUDITORIA");
            storage.exec(newest);
            m_newest = newest.next() ? newest.value(0).toLongLong() : 0;
            newest.finish();
            m_gaps.clear();
            m_held.clear();
            m_more = false;
            return;
        }
        if (m_subscribers.load() <= 0) return;
        m_gaps.forgetOld(m_clock.elapsed());
        // A gap is filled only by a commit, which the look above sees.
        tellOrHold(*changed || m_more ? readNewRows(storage) : QVector<RecordChange>{});
    } catch (const ServiceError& e) {
        m_more = true; // read again whole at the next look
        logLine(QStringLiteral("aviso de alterações: %1").arg(e.message));
    }
}

QVector<RecordChange> ChangeWatch::readNewRows(Storage& storage) {
    // The last change of each record: a burst of writes is one notice per record per look.
    QVector<RecordChange> changes;
    QHash<QString, qsizetype> at;
    // Older numbers first: the rows that filled a gap, then those after the newest.
    std::vector<qint64> filled;
    auto gap = m_gaps.numbers().begin();
    while (gap != m_gaps.numbers().end()) {
        QSqlQuery& rows = storage.query(gapStatement());
        for (int i = 0; i < GapsPerRead; ++i)
            rows.bindValue(i, gap != m_gaps.numbers().end() ? (gap++)->first : qint64(-1));
        storage.exec(rows);
        while (rows.next()) {
            filled.push_back(rows.value(0).toLongLong());
            takeRow(rows, changes, at);
        }
        rows.finish();
    }
    QSqlQuery& rows = storage.query(newRowsStatement());
    rows.bindValue(0, m_newest);
    storage.exec(rows);
    qint64 newest = m_newest;
    std::vector<std::pair<qint64, qint64>> skipped; // from, to (not included)
    int count = 0;
    while (rows.next()) {
        ++count;
        const qint64 number = rows.value(0).toLongLong();
        if (number > newest + 1) skipped.emplace_back(newest + 1, number);
        newest = number;
        takeRow(rows, changes, at);
    }
    rows.finish();
    // Only now, every row in hand: a look that fails half-way is made again whole.
    for (const qint64 number : filled)
        m_gaps.filled(number);
    for (const auto& [from, to] : skipped)
        m_gaps.skipped(from, to, m_clock.elapsed());
    m_newest = newest;
    m_more = count >= RowsPerLook;
    // More than one look reads: the rest at once, not a look later.
    if (m_more) QTimer::singleShot(0, [this, &storage] { look(storage); });
    return changes;
}

void ChangeWatch::takeRow(const QSqlQuery& row, QVector<RecordChange>& changes,
                          QHash<QString, qsizetype>& at) {
    if (row.value(5).toString() == QLatin1String("S")) return; // refused: nothing changed
    const contract::Method* method = contract::findMethod(row.value(3).toString().toStdString());
    if (!method || !method->writes) return;
    const QJsonArray arguments = QJsonDocument::fromJson(row.value(4).toString().toUtf8()).array();
    for (const QString& record : contract::changedRecords(*method, arguments)) {
        RecordChange change{record, row.value(3).toString(), row.value(2).toString(),
                            row.value(1).toString(), row.value(6).toString()};
        if (const auto found = at.constFind(record); found != at.constEnd())
            changes[*found] = std::move(change);
        else {
            at.insert(record, changes.size());
            changes << std::move(change);
        }
    }
}

void ChangeWatch::tellOrHold(QVector<RecordChange> changes) {
    const qint64 now = m_clock.elapsed();
    for (RecordChange& change : changes)
        m_held.insert(change.record, std::move(change));
    QVector<RecordChange> due;
    for (auto held = m_held.begin(); held != m_held.end();) {
        const auto told = m_toldAt.constFind(held.key());
        if (told != m_toldAt.constEnd() && now - *told < NoticeGapMs) {
            ++held;
            continue;
        }
        m_toldAt.insert(held.key(), now);
        due << std::move(held.value());
        held = m_held.erase(held);
    }
    if (!due.isEmpty()) m_deliver(std::move(due));
}

} // namespace rhserver
