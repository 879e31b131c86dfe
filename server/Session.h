#pragma once
// One client connection's conversation: reads JSON-RPC requests, keeps the server object that
// `open` created, and answers every request with one response line.

#include "ParamService.h"

#include <simdjson.h>

namespace rhserver {

struct SessionConfig {
    QString token; // empty: no token required
    QString serverVersion;
};

class Session {
public:
    Session(const SessionConfig& config, ParamService& service, simdjson::dom::parser& parser,
            QString sessionId);

    // The response to one request line, newline included.
    std::string handle(const QByteArray& line);
    // A short description of the last error answered, for the log; empty after a success.
    const QString& lastFailure() const { return m_lastFailure; }
    bool isOpen() const { return m_open; }

private:
    std::string dispatch(std::string_view idJson, std::string_view method,
                         simdjson::dom::element params, bool hasParams);
    std::string fail(std::string_view idJson, int code, const QString& message);

    const SessionConfig& m_config;
    ParamService& m_service;
    simdjson::dom::parser& m_parser;
    SessionInfo m_info;
    bool m_open = false;
    QString m_lastFailure;
};

} // namespace rhserver
