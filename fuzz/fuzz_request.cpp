// A session over a real SQLite file made at start: every input line gets exactly one response
// line, a JSON-RPC 2.0 object with its result or its error, and nothing crashes.

#include "server/ParamService.h"
#include "server/Schema.h"
#include "server/Session.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>

namespace {

struct World {
    QTemporaryDir dir;
    std::unique_ptr<rhserver::Storage> storage;
    std::unique_ptr<rhserver::ParamService> service;
    simdjson::dom::parser parser;
    simdjson::dom::parser checker;
    rhserver::SessionConfig config;
};

World* world = nullptr;

void checkResponse(const std::string& out) {
    if (out.empty() || out.back() != '\n' || out.find('\n') != out.size() - 1) std::abort();
    simdjson::dom::element doc;
    simdjson::dom::object o;
    if (world->checker.parse(out.data(), out.size() - 1).get(doc) || doc.get(o)) std::abort();
    std::string_view version;
    if (o["jsonrpc"].get(version) || version != "2.0") std::abort();
    simdjson::dom::element id, result, error;
    if (o["id"].get(id)) std::abort();
    const bool hasResult = !o["result"].get(result), hasError = !o["error"].get(error);
    if (hasResult == hasError) std::abort();
    if (hasError) {
        int64_t code = 0;
        std::string_view message;
        if (error["code"].get(code) || error["message"].get(message) || message.empty())
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    world = new World;
    const QString url = QStringLiteral("sqlite:") + world->dir.filePath(QStringLiteral("rh.db"));
    QString error;
    if (!rhserver::initDatabase(url, true, &error)) std::abort();
    world->storage = std::make_unique<rhserver::Storage>(*rhserver::DbAddress::parse(url, &error));
    if (!world->storage->open(&error)) std::abort();
    world->service = std::make_unique<rhserver::ParamService>(*world->storage);
    world->config.serverVersion = QStringLiteral("0.1");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    rhserver::Session session(world->config, *world->service, world->parser,
                              QStringLiteral("fuzz"));
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const QByteArray& line : input.split('\n')) {
        if (line.trimmed().isEmpty()) continue;
        checkResponse(session.handle(line));
    }
    return 0;
}
