// Calls of every method of the contract on an opened session over a real SQLite file with the
// demo data: whatever the params (missing, null, an object, texts, deltas, huge), every call gets
// exactly one JSON-RPC answer line and nothing crashes.
//
// Each input line is either a request as the fuzzer wrote it (it starts with '{'; the method
// names are its dictionary, see RH_FUZZ_DICTIONARY below), or a call made here: the first byte
// picks the method, its top bit leaves the params out, and the rest of the line is the params.

#include "contract/Methods.h"
#include "contract/Notices.h"
#include "server/ParamService.h"
#include "server/Schema.h"
#include "server/Session.h"

#include <QCoreApplication>
#include <QFile>
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
    std::vector<std::string> names; // every method a session answers after open
};

World* world = nullptr;

bool answered(const std::string& out, bool* ok = nullptr) {
    if (out.empty() || out.back() != '\n' || out.find('\n') != out.size() - 1) return false;
    simdjson::dom::element doc, id, result, error;
    simdjson::dom::object o;
    std::string_view version, message;
    if (world->checker.parse(out.data(), out.size() - 1).get(doc) || doc.get(o) ||
        o["jsonrpc"].get(version) || version != "2.0" || o["id"].get(id))
        return false;
    const bool hasResult = !o["result"].get(result), hasError = !o["error"].get(error);
    if (hasResult == hasError) return false;
    int64_t code = 0;
    if (hasError && (error["code"].get(code) || error["message"].get(message) || message.empty()))
        return false;
    if (ok) *ok = hasResult;
    return true;
}

std::string callLine(const QByteArray& line) {
    const std::string& method = world->names[size_t(uint8_t(line[0]) & 0x7f) % world->names.size()];
    std::string out = R"({"jsonrpc":"2.0","id":1,"method":")" + method + '"';
    if (!(uint8_t(line[0]) & 0x80)) out += R"(,"params":)" + line.mid(1).toStdString();
    return out + '}';
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    world = new World;
    for (const contract::Method& m : contract::methods())
        world->names.emplace_back(m.view());
    world->names.emplace_back(contract::SubscribeMethod.data(), contract::SubscribeMethod.size());
    world->names.emplace_back("ping");
    world->names.emplace_back("open");
    // scripts/fuzz.sh asks for the dictionary first: the names as the contract has them now.
    if (const char* path = std::getenv("RH_FUZZ_DICTIONARY")) {
        QFile dict(QString::fromLocal8Bit(path));
        if (!dict.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
        for (const std::string& name : world->names)
            dict.write(QByteArray("\"\\\"") + name.c_str() + "\\\"\"\n");
        for (const char* token : {"\"params\":", "\"method\":", "null", "[]", "{}", "\"fields\"",
                                  "\"changes\"", "\"op\":\"update\"", "\"op\":\"insert\""}) {
            QByteArray escaped = QByteArray(token).replace('"', "\\\"");
            dict.write('"' + escaped + "\"\n");
        }
        dict.close(); // exit() unwinds nothing
        std::exit(0);
    }
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
    bool opened = false;
    if (!answered(session.handle(QByteArray(R"({"jsonrpc":"2.0","id":0,"method":"open","params":)"
                                            R"({"object":"ZOL00900.rdmParametrosZOL",)"
                                            R"("branch":"0001"}})")),
                  &opened) ||
        !opened)
        std::abort();
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    for (const QByteArray& line : input.split('\n')) {
        if (line.isEmpty()) continue;
        const QByteArray request =
            line.startsWith('{') ? line : QByteArray::fromStdString(callLine(line));
        if (!answered(session.handle(request))) std::abort();
    }
    return 0;
}
