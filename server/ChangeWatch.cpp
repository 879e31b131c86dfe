#include "ChangeWatch.h"

#include "Log.h"

#include "contract/Notices.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

namespace rhserver {

namespace {
// A gap in the audit numbers older than this is a transaction that never committed.
constexpr qint64 GapPatienceMs = 10000;
// Rows read in one look at most; more wait for the next.
constexpr int RowsPerLook = 5000;
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
        if (m_floor < 0 || (*changed && m_subscribers.load() <= 0)) {
            QSqlQuery& newest = storage.query("SELECT MAX(NRAUDITORIA) FROM RHAUDITORIA");
            storage.exec(newest);
            m_floor = newest.next() ? newest.value(0).toLongLong() : 0;
            newest.finish();
            m_seen.clear();
            m_gapSince = -1;
            m_held.clear();
            return;
        }
        if (m_subscribers.load() <= 0) return;
        tellOrHold(*changed || !m_seen.empty() ? readNewRows(storage) : QVector<RecordChange>{});
    } catch (const ServiceError& e) {
        logLine(QStringLiteral("aviso de alterações: %1").arg(e.message));
    }
}

QVector<RecordChange> ChangeWatch::readNewRows(Storage& storage) {
    QSqlQuery& rows = storage.query(
        "SELECT NRAUDITORIA, DTAUDITORIA, NMTOKEN, NMMETODO, DSARGUMENTOS, IDRECUSADO, IDSESSAO "
        "FROM RHAUDITORIA WHERE NRAUDITORIA > ? ORDER BY NRAUDITORIA LIMIT 5000"); // RowsPerLook
    rows.bindValue(0, m_floor);
    storage.exec(rows);
    // The last change of each record: a burst of writes is one notice per record per look.
    QVector<RecordChange> changes;
    QHash<QString, qsizetype> at;
    int count = 0;
    while (rows.next()) {
        ++count;
        const qint64 number = rows.value(0).toLongLong();
        if (!m_seen.insert(number).second) continue;
        if (rows.value(5).toString() == QLatin1String("S")) continue; // refused: nothing changed
        const contract::Method* method =
            contract::findMethod(rows.value(3).toString().toStdString());
        if (!method || !method->writes) continue;
        const QJsonArray arguments =
            QJsonDocument::fromJson(rows.value(4).toString().toUtf8()).array();
        for (const QString& record : contract::changedRecords(*method, arguments)) {
            RecordChange change{record, rows.value(3).toString(), rows.value(2).toString(),
                                rows.value(1).toString(), rows.value(6).toString()};
            if (const auto found = at.constFind(record); found != at.constEnd())
                changes[*found] = std::move(change);
            else {
                at.insert(record, changes.size());
                changes << std::move(change);
            }
        }
    }
    rows.finish();
    advanceFloor();
    // More than one look reads: the rest at once, not a look later.
    if (count >= RowsPerLook) QTimer::singleShot(0, [this, &storage] { look(storage); });
    return changes;
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

void ChangeWatch::advanceFloor() {
    while (!m_seen.empty() && *m_seen.begin() == m_floor + 1) {
        m_seen.erase(m_seen.begin());
        ++m_floor;
    }
    if (m_seen.empty()) {
        m_gapSince = -1;
        return;
    }
    if (m_gapSince < 0) {
        m_gapSince = m_clock.elapsed();
    } else if (m_clock.elapsed() - m_gapSince >= GapPatienceMs) {
        m_floor = *m_seen.begin() - 1;
        m_gapSince = -1;
        advanceFloor();
    }
}

} // namespace rhserver
