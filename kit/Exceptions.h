#pragma once
// Failures travel as exceptions; EAbort is the quiet one that no one reports.

#include <QByteArray>
#include <QString>
#include <exception>

class Exception : public std::exception {
public:
    explicit Exception(const QString& message)
        : m_message(message)
        , m_utf8(message.toUtf8()) {}
    const QString& message() const { return m_message; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// Ends the running command without a message; the event dispatcher swallows it.
class EAbort : public Exception {
public:
    EAbort()
        : Exception(QStringLiteral("Operação interrompida")) {}
};

class EDatabaseError : public Exception {
public:
    using Exception::Exception;
};

// The application server could not be reached, or it refused a call.
class EServerError : public Exception {
public:
    explicit EServerError(const QString& message, int code = 0)
        : Exception(message)
        , m_code(code) {}
    int code() const { return m_code; }

private:
    int m_code;
};

[[noreturn]] inline void Abort() {
    throw EAbort();
}
