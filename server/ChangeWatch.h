#pragma once
// Learns which records were changed, by this process or any other on the same database, for the
// sessions that subscribed to them. A thread of its own, with its own database connection, looks
// often while some session subscribes and a few times a second otherwise: SQLite's data_version, or
// PostgreSQL's notification sent with each write, tells whether anything was committed; the
// audit rows written since then tell which records, by whom and when. The network thread only
// hands the notices on. What it promises is written in Freshness.h.

#include "Freshness.h"
#include "Storage.h"

#include <QElapsedTimer>
#include <QHash>
#include <QThread>
#include <atomic>
#include <functional>
#include <future>

namespace rhserver {

// One record changed; within one look, the last change of each record.
struct RecordChange {
    QString record;    // as the contract names it: "geral", "filial:0001", ...
    QString method;    // the write that changed it
    QString who;       // the token's name; empty when the server asks for none
    QString when;      // UTC, ISO 8601
    QString sessionId; // the session that wrote it, which is not told of its own change
};

class ChangeWatch : public QThread {
public:
    using Deliver = std::function<void(QVector<RecordChange>)>;
    // deliver runs on the watch's thread, with the changes of one look.
    ChangeWatch(const DbAddress& address, const std::atomic<int>& subscribers, Deliver deliver);
    ~ChangeWatch() override;

    // Starts the thread once its connection is open; empty on success, the reason otherwise.
    QString launch();
    void finish();

    // How often the database is looked at; and the shortest time between two notices of one
    // record, so that a burst of writes is a few notices a second, the last one always told.
    static constexpr int LookEveryMs = 50;
    static constexpr int IdleLookEveryMs = 250; // while nobody subscribes
    static constexpr int NoticeGapMs = 250;

protected:
    void run() override;

private:
    void look(Storage& storage);
    // The audit rows after the newest seen, and those that fill a gap remembered below it;
    // changes of the rows not seen before.
    QVector<RecordChange> readNewRows(Storage& storage);
    // Takes one audit row into the changes: the last change of each record per look.
    void takeRow(const QSqlQuery& row, QVector<RecordChange>& changes,
                 QHash<QString, qsizetype>& at);
    // Hands on the changes whose record was not told too recently; holds the others back.
    void tellOrHold(QVector<RecordChange> changes);

    DbAddress m_address;
    const std::atomic<int>& m_subscribers;
    Deliver m_deliver;
    std::promise<QString> m_ready;
    // The newest audit number read. A PostgreSQL transaction may commit after one that took a
    // later number, or never (a rollback leaves its number unused): the numbers skipped below
    // the newest are looked at again whenever something is committed (Freshness.h).
    qint64 m_newest = -1; // -1: not known; read again from the newest row
    bool m_more = false;  // the last look read as many rows as it may: more wait
    AuditGaps m_gaps;     // in ms on m_clock
    QElapsedTimer m_clock;
    QHash<QString, qint64> m_toldAt;     // ms on m_clock of each record's last notice
    QHash<QString, RecordChange> m_held; // told too recently; told once NoticeGapMs passed
};

} // namespace rhserver
