#pragma once
// The threads that touch the database: each has its own connection to it and runs one request
// at a time. A request goes to the worker with the least work waiting, and the health check's
// calls (`ping`, and the `open` before it) to a worker kept for them, so that neither a slow
// write nor a locked database holds up other clients or the health check.

#include "Outlet.h"
#include "ParamService.h"
#include "Storage.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <simdjson.h>
#include <string>
#include <vector>

namespace rhserver {

class Session;
class StorageWorker;
class WorkerThread;

class WorkerPool {
public:
    WorkerPool();
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Starts the workers (plus the one kept for `ping`), each with its database connection
    // open and the schema checked; empty on success, the reason otherwise.
    QString start(const DbAddress& address, int count);
    // Ends the threads once the work handed to them is done; false when some had not ended by
    // the deadline (they are then left running, for the end of the process).
    bool stop(QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever));
    // From the thread that stops the pool: each worker's database work is cut short (see
    // Storage::interrupt) and the lines not begun are not answered. Called again, it cuts again.
    void interrupt();

    // One request's answer, and for the log what was refused (empty when nothing was).
    struct Answer {
        std::string text;
        QString failure;
    };
    struct Answers {
        std::vector<Answer> list;
        size_t sent = 0; // bytes of them, from the first, that the worker sent through the outlet
    };
    // Answers the lines in order on one worker, their writes under one commit, and sends what
    // the outlet takes; `answered` runs later on the thread of `replyTo`, which must outlive every
    // request handed over (the pool is stopped first).
    void submit(const std::shared_ptr<Session>& session, std::vector<QByteArray> lines,
                std::shared_ptr<Outlet> outlet, QObject* replyTo,
                std::function<void(Answers)> answered);
    // Requests handed over and not yet answered.
    int pending() const { return m_pending.load(); }

private:
    WorkerThread* leastLoaded();
    // On the worker's thread: answers every job queued for it by now, as one batch.
    void answerQueued(StorageWorker* worker);

    std::vector<std::unique_ptr<WorkerThread>> m_threads; // the last one: the health check's
    std::atomic<int> m_pending{0};
    std::atomic<unsigned> m_next{0};
};

} // namespace rhserver
