#pragma once
// Waiting for the application server without freezing the window: a local event loop that
// paints and animates but lets no user input, window closing or handler of ours run.

#include <QObject>
#include <functional>

// True while a service call waits; the dispatcher runs no handler meanwhile.
bool CallWaiting();

class CallWait : public QObject {
public:
    CallWait();
    ~CallWait() override;
    CallWait(const CallWait&) = delete;
    CallWait& operator=(const CallWait&) = delete;

    // Runs the event loop until ready() holds or timeoutMs passes; `changes` are the signals
    // after which ready() is asked again. Returns ready().
    template <typename Sender, typename... Signals>
    bool until(const std::function<bool()>& ready, int timeoutMs, Sender* sender,
               Signals... changes) {
        if (ready()) return true;
        QList<QMetaObject::Connection> links;
        (links.append(QObject::connect(sender, changes, this, [this] { recheck(); })), ...);
        const bool ok = run(ready, timeoutMs);
        for (const auto& l : links)
            QObject::disconnect(l);
        return ok;
    }

    // Whether the calling thread can wait in a local event loop (the GUI thread of an
    // application); elsewhere the caller blocks on the socket instead.
    static bool Available();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool run(const std::function<bool()>& ready, int timeoutMs);
    void recheck();

    std::function<bool()> m_ready;
    class QEventLoop* m_loop = nullptr;
};
