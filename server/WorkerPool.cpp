#include "WorkerPool.h"

#include "Schema.h"
#include "Session.h"

#include <QThread>
#include <future>
#include <mutex>
#include <thread>

namespace rhserver {

// One database connection and what serves requests on it; lives on its own thread.
class StorageWorker : public QObject {
public:
    explicit StorageWorker(const DbAddress& address)
        : m_storage(address)
        , m_service(m_storage) {}

    QString open() {
        QString error;
        if (!m_storage.open(&error)) return error;
        return schemaProblem(m_storage);
    }

    // Answers a connection's lines in order. Consecutive writes share one commit, and their
    // answers wait for it: each says what became of it, stored, not stored or unknown.
    std::vector<WorkerPool::Answer> answer(Session& session, std::vector<QByteArray>& lines) {
        std::vector<WorkerPool::Answer> answers;
        answers.reserve(lines.size());
        struct Grouped {
            size_t index;
            std::string id;
        };
        std::vector<Grouped> grouped;
        const auto settle = [&](std::optional<CommitOutcome> ended) {
            if (!ended) return;
            if (*ended == CommitOutcome::NotStored)
                for (const Grouped& g : grouped)
                    answers[g.index] = {Session::lostWrite(g.id),
                                        QStringLiteral("gravação desfeita: o grupo de gravações "
                                                       "não chegou ao banco de dados")};
            if (*ended == CommitOutcome::Unknown)
                for (const Grouped& g : grouped)
                    answers[g.index] = {protocol::errorJson(g.id,
                                                            protocol::ErrorCode::OutcomeUnknown,
                                                            unknownOutcomeText()),
                                        QStringLiteral("resultado desconhecido: a conexão caiu "
                                                       "durante a confirmação do grupo")};
            grouped.clear();
        };
        m_service.setGrouping(lines.size() > 1);
        for (size_t i = 0; i < lines.size(); ++i) {
            // Shutting down past the wait: what was not begun stays unanswered, and its
            // connection closes; the client may send it again elsewhere.
            if (m_storage.interrupted()) break;
            const int before = m_storage.groupedWrites();
            std::string out = session.handle(lines[i], m_service, m_parser);
            settle(m_service.takeEndedGroup());
            if (m_storage.groupedWrites() > before) grouped.push_back({i, session.lastId()});
            answers.push_back({std::move(out), session.lastFailure()});
            // A large request's memory goes back before its answer leaves.
            lines[i] = QByteArray();
        }
        m_service.setGrouping(false);
        settle(m_service.endGroup());
        return answers;
    }

    std::atomic<int> load{0}; // requests handed to this worker and not yet answered

    // One connection's lines handed over, and where their answers go.
    struct Job {
        std::shared_ptr<Session> session;
        std::vector<QByteArray> lines;
        std::shared_ptr<Outlet> outlet;
        QObject* replyTo;
        std::function<void(WorkerPool::Answers)> answered;
    };
    // From any thread: queues the job, and wakes the worker unless a wake-up is on its way.
    void queue(Job job, const std::function<void()>& wake) {
        {
            std::lock_guard lock(m_queueMutex);
            m_queue.push_back(std::move(job));
            if (m_woken) return;
            m_woken = true;
        }
        wake();
    }
    // On the worker's thread: every job queued by now, taken at once so that they are answered
    // as one batch: their reads are sent to the database together and their kept replies share
    // one look for changes.
    std::vector<Job> takeQueued() {
        std::lock_guard lock(m_queueMutex);
        m_woken = false;
        return std::exchange(m_queue, {});
    }
    void startBatch(const std::vector<Job>& jobs) {
        if (m_storage.interrupted()) return;
        std::vector<ParamService::PlannedRead> reads;
        for (const Job& job : jobs) {
            if (!m_service.readsAhead() || !job.session->isOpen()) continue;
            // Only the reads a connection sent before anything else: what follows them may
            // change what they read.
            for (const QByteArray& line : job.lines) {
                std::optional<ParamService::PlannedRead> read =
                    Session::plannedRead(line, m_parser, job.session->branch());
                if (!read) break;
                reads.push_back(std::move(*read));
            }
        }
        m_service.startBatch(reads);
    }
    void endBatch() { m_service.endBatch(); }
    std::function<void()> interrupt() { return m_storage.interrupt(); }

private:
    Storage m_storage;
    ParamService m_service;
    simdjson::dom::parser m_parser;
    std::mutex m_queueMutex;
    std::vector<Job> m_queue;
    bool m_woken = false; // a wake-up is queued on the worker's thread
};

class WorkerThread : public QThread {
public:
    explicit WorkerThread(const DbAddress& address)
        : m_address(address) {}

    // Starts the thread and waits until its database connection is ready; empty on success.
    QString launch() {
        auto ready = m_ready.get_future();
        start();
        return ready.get();
    }

    StorageWorker* worker() const { return m_worker.load(); }

protected:
    void run() override {
        StorageWorker worker(m_address);
        const QString problem = worker.open();
        if (!problem.isEmpty()) {
            m_ready.set_value(problem);
            return;
        }
        m_worker = &worker;
        m_ready.set_value({});
        exec();
        m_worker = nullptr;
    }

private:
    DbAddress m_address;
    std::promise<QString> m_ready;
    std::atomic<StorageWorker*> m_worker{nullptr};
};

namespace {
// Calls of the health check are this short; longer lines are never taken for one.
constexpr qsizetype HealthCheckLine = 4096;

// The health check's calls go to the kept worker: ping, and the open of a session not open yet
// (one per connection, and cheap). Taken from the parsed method, so that no argument can send a
// slow call there.
bool isHealthCheckCall(const QByteArray& line, bool sessionOpen) {
    if (line.size() > HealthCheckLine) return false;
    thread_local simdjson::dom::parser parser;
    simdjson::dom::object request;
    std::string_view method;
    if (parser.parse(line.constData(), size_t(line.size())).get(request) ||
        request["method"].get(method))
        return false;
    return method == "ping" || (method == "open" && !sessionOpen);
}
} // namespace

WorkerPool::WorkerPool() = default;

WorkerPool::~WorkerPool() {
    stop();
}

QString WorkerPool::start(const DbAddress& address, int count) {
    stop();
    for (int i = 0; i < count + 1; ++i) {
        m_threads.push_back(std::make_unique<WorkerThread>(address));
        const QString problem = m_threads.back()->launch();
        if (!problem.isEmpty()) {
            stop();
            return problem;
        }
    }
    return {};
}

bool WorkerPool::stop(QDeadlineTimer deadline) {
    // quit() lets the request being answered finish; the ones still queued were handed over by
    // connections that are gone by now.
    for (auto& t : m_threads)
        t->quit();
    bool ended = true;
    for (auto& t : m_threads)
        if (!t->wait(deadline)) {
            // Still waiting on the database after every cut: left to the end of the process
            // rather than waited for without end.
            ended = false;
            static_cast<void>(t.release());
        }
    m_threads.clear();
    return ended;
}

void WorkerPool::interrupt() {
    std::vector<std::function<void()>> cancels;
    for (auto& t : m_threads)
        if (StorageWorker* worker = t->worker()) cancels.push_back(worker->interrupt());
    // A cancel opens a connection of its own to the database server: one out of reach must not
    // hold up the end.
    std::thread([cancels = std::move(cancels)] {
        for (const auto& cancel : cancels)
            cancel();
    }).detach();
}

WorkerThread* WorkerPool::leastLoaded() {
    const size_t general = m_threads.size() - 1;
    // Start the search at a moving place, so that idle workers share the work.
    const size_t from = m_next.fetch_add(1, std::memory_order_relaxed) % general;
    WorkerThread* best = nullptr;
    int bestLoad = 0;
    for (size_t i = 0; i < general; ++i) {
        WorkerThread* t = m_threads[(from + i) % general].get();
        const int load = t->worker()->load.load(std::memory_order_relaxed);
        if (!best || load < bestLoad) {
            best = t;
            bestLoad = load;
        }
        if (load == 0) break;
    }
    return best;
}

void WorkerPool::submit(const std::shared_ptr<Session>& session, std::vector<QByteArray> lines,
                        std::shared_ptr<Outlet> outlet, QObject* replyTo,
                        std::function<void(Answers)> answered) {
    const bool healthCheck = lines.size() == 1 && isHealthCheckCall(lines[0], session->isOpen());
    StorageWorker* worker = healthCheck ? m_threads.back()->worker() : leastLoaded()->worker();
    const int count = int(lines.size());
    worker->load += count;
    m_pending += count;
    worker->queue({session, std::move(lines), std::move(outlet), replyTo, std::move(answered)},
                  [this, worker] {
                      QMetaObject::invokeMethod(
                          worker, [this, worker] { answerQueued(worker); }, Qt::QueuedConnection);
                  });
}

void WorkerPool::answerQueued(StorageWorker* worker) {
    std::vector<StorageWorker::Job> jobs = worker->takeQueued();
    worker->startBatch(jobs);
    for (StorageWorker::Job& job : jobs) {
        const int count = int(job.lines.size());
        Answers out{worker->answer(*job.session, job.lines), 0};
        if (out.list.size() == 1) {
            out.sent = job.outlet->sendNow(out.list.front().text);
        } else {
            std::string all;
            for (const Answer& a : out.list)
                all += a.text;
            out.sent = job.outlet->sendNow(all);
        }
        worker->load -= count;
        QMetaObject::invokeMethod(
            job.replyTo,
            [this, count, out = std::move(out), answered = std::move(job.answered)]() mutable {
                m_pending -= count;
                answered(std::move(out));
            },
            Qt::QueuedConnection);
    }
    worker->endBatch();
}

} // namespace rhserver
