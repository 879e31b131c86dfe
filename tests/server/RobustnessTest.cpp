// Bad, hostile, huge, half-sent and stalled input: each gets its answer, stored data stays as it
// was, and the server goes on serving.

#include "DemoServer.h"
#include "contract/Methods.h"
#include "server/Session.h"

#include <QElapsedTimer>
#include <QFile>
#include <gtest/gtest.h>

using namespace testing_rh;
using protocol::Response;
namespace ErrorCode = protocol::ErrorCode;

namespace {

class Robustness : public DemoServerTest {
protected:
    void startServer(const QStringList& extra = {}) {
        ASSERT_TRUE(server.start(extra)) << server.log().toStdString();
        before = dumpStoredData(server.dbPath());
    }
    // Another client still gets real answers, and nothing stored changed.
    void expectServingAndUnchanged() {
        LineClient fresh(server.port());
        ASSERT_TRUE(fresh.open().ok);
        const Response r = fresh.call(QStringLiteral("GetGeral"), {QStringLiteral("1")});
        EXPECT_EQ(packetOf(r).rows.size(), 1);
        EXPECT_TRUE(server.running());
        EXPECT_EQ(dumpStoredData(server.dbPath()), before);
    }

    QString before;
};

TEST_F(Robustness, MalformedRequestsGetTheirCodesAndKeepTheConnection) {
    startServer();
    LineClient c(server.port());
    const std::pair<QByteArray, int> cases[] = {
        {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":", ErrorCode::ParseError},
        {"not json at all", ErrorCode::ParseError},
        {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"GetGeral\",\"params\":[\"1\"]}}",
         ErrorCode::ParseError},
        {"\xff\xfe{}", ErrorCode::ParseError},
        {"[1,2,3]", ErrorCode::InvalidRequest},
        {"42", ErrorCode::InvalidRequest},
        {"{\"jsonrpc\":\"2.0\",\"method\":\"ping\"}", ErrorCode::InvalidRequest},
        {"{\"jsonrpc\":\"1.0\",\"id\":2,\"method\":\"ping\"}", ErrorCode::InvalidRequest},
        {"{\"jsonrpc\":\"2.0\",\"id\":{},\"method\":\"ping\"}", ErrorCode::InvalidRequest},
        {"{\"jsonrpc\":\"2.0\",\"id\":3,\"method\":7}", ErrorCode::InvalidRequest},
        {"{\"jsonrpc\":\"2.0\",\"id\":4,\"method\":\"GetGeral\",\"params\":[\"1\"]}",
         ErrorCode::NotOpen},
        {"{\"jsonrpc\":\"2.0\",\"id\":5,\"method\":\"DropTables\",\"params\":[]}",
         ErrorCode::NotOpen},
        {"{\"jsonrpc\":\"2.0\",\"id\":6,\"method\":\"open\",\"params\":[\"ZOL00900."
         "rdmParametrosZOL\",\"0001\"]}",
         ErrorCode::InvalidParams},
        {"{\"jsonrpc\":\"2.0\",\"id\":7,\"method\":\"open\",\"params\":{\"object\":\"ZOL00900."
         "Outro\",\"branch\":\"0001\"}}",
         ErrorCode::UnknownObject},
        {"{\"jsonrpc\":\"2.0\",\"id\":8,\"method\":\"open\",\"params\":{\"object\":\"ZOL00900."
         "rdmParametrosZOL\",\"branch\":\"0099\"}}",
         ErrorCode::Refused},
    };
    for (const auto& [line, code] : cases) {
        SCOPED_TRACE(line.toStdString());
        c.send(line + '\n');
        const Response r = parse(c.readLine());
        EXPECT_EQ(r.errorCode, code);
        EXPECT_TRUE(r.errorMessage.endsWith(u'.')) << r.errorMessage.toStdString();
        ASSERT_TRUE(c.connected());
    }
    // The id of a request comes back as it was sent.
    c.send("{\"jsonrpc\":\"2.0\",\"id\":\"abc\\\"d\",\"method\":\"ping\"}\n");
    EXPECT_TRUE(c.readLine()->contains("\"id\":\"abc\\\"d\""));
    // Before open: a liveness answer that tells neither version nor database state, and one
    // answer for every other name, known or not.
    const Response alive = c.call(QStringLiteral("ping"), {});
    ASSERT_TRUE(alive.ok);
    EXPECT_EQ(alive.resultJson, R"({"server":"rhserver"})");
    EXPECT_EQ(c.call(QStringLiteral("NoSuchMethod"), {}).errorCode, ErrorCode::NotOpen);
    ASSERT_TRUE(c.open().ok);
    const Response ready = c.call(QStringLiteral("ping"), {});
    ASSERT_TRUE(ready.ok);
    EXPECT_NE(ready.resultJson.find("\"database\":\"ok\""), std::string::npos) << ready.resultJson;
    EXPECT_EQ(c.call(QStringLiteral("NoSuchMethod"), {}).errorCode, ErrorCode::MethodNotFound);
    expectServingAndUnchanged();
}

TEST_F(Robustness, WrongNumberOrKindOfArgumentsForEveryMethod) {
    startServer();
    LineClient c(server.port());
    ASSERT_TRUE(c.open().ok);
    // Every method the contract lists, the desktop's lookups included: params missing, null, an
    // object, a lone text, too few, too many, of the wrong kind, or huge.
    const std::string huge(256 * 1024, 'x');
    for (const contract::Method& entry : contract::methods()) {
        const QString method = QString::fromLatin1(entry.name.data(), entry.name.size());
        SCOPED_TRACE(method.toStdString());
        const std::string good = entry.takesDelta ? R"({"fields":[],"changes":[]})" : R"("0001")";
        const auto list = [&](int n, const std::string& item) {
            std::string out = "[";
            for (int i = 0; i < n; ++i)
                out += (i ? "," : "") + item;
            return out + "]";
        };
        std::vector<std::string> wrong = {list(entry.argc + 1, good),
                                          "null",
                                          R"({"a":"0001"})",
                                          R"("0001")",
                                          "7",
                                          "true",
                                          list(entry.argc + 1, '"' + huge + '"')};
        if (entry.argc > 0) {
            wrong.push_back(list(entry.argc - 1, good));
            wrong.push_back(list(entry.argc, "1"));
            wrong.push_back(list(entry.argc, "null"));
            wrong.push_back(list(entry.argc, "[]"));
            wrong.push_back(list(entry.argc, entry.takesDelta ? R"("x")" : R"({})"));
            wrong.push_back("[]");
        }
        for (const std::string& params : wrong) {
            SCOPED_TRACE(params.substr(0, 80));
            const Response r = c.callRaw(method, params);
            EXPECT_EQ(r.errorCode, ErrorCode::InvalidParams);
            EXPECT_TRUE(r.errorMessage.endsWith(u'.')) << r.errorMessage.toStdString();
        }
        // No params at all: refused, or answered when the method takes none.
        c.send("{\"jsonrpc\":\"2.0\",\"id\":7,\"method\":\"" + method.toUtf8() + "\"}\n");
        const Response bare = parse(c.readLine());
        if (entry.argc == 0)
            EXPECT_TRUE(bare.ok) << bare.errorMessage.toStdString();
        else
            EXPECT_EQ(bare.errorCode, ErrorCode::InvalidParams);
        ASSERT_TRUE(server.running());
    }
    EXPECT_EQ(c.callRaw(QStringLiteral("SetGeral"), R"([{"fields":{},"changes":[]}])").errorCode,
              ErrorCode::InvalidParams);
    EXPECT_EQ(
        c.callRaw(
             QStringLiteral("SetGeral"),
             R"([{"fields":[{"name":"CDPARAMRH","type":"string","size":1}],"changes":[{"op":"erase","new":["1"]}]}])")
            .errorCode,
        ErrorCode::Refused);
    expectServingAndUnchanged();
    EXPECT_TRUE(auditRows(server.dbPath()).isEmpty());
}

TEST_F(Robustness, HostileTextInEveryArgumentIsOnlyData) {
    startServer();
    LineClient c(server.port());
    ASSERT_TRUE(c.open().ok);
    const QStringList hostile = {
        QStringLiteral("0001' OR '1'='1"),
        QStringLiteral("'; DROP TABLE PARAMRH; --"),
        QStringLiteral("\"); DELETE FROM INSPCARGO; --"),
        QStringLiteral("%"),
        QStringLiteral("0001\n{\"jsonrpc\":\"2.0\"}"),
        QStringLiteral("ação ç ü 日本"),
        QString(5000, u'x'),
        QStringLiteral("\\"),
    };
    const std::pair<const char*, int> methods[] = {
        {"GetGeral", 1},  {"GetFilial", 1}, {"GetConvMed", 2},   {"GetInspecao", 1},
        {"GetCargo", 1},  {"GetDepto", 1},  {"SetInsCarg", 3},   {"SetDelCarg", 3},
        {"SetInsDep", 3}, {"SetDelDep", 3}, {"SetDelTdCarg", 2}, {"SetDelTdDep", 2},
        {"SetInsPad", 2}, {"SetDelPad", 2},
    };
    // Valid codes in every position except the one that carries the hostile text.
    const QHash<QString, QStringList> valid = {
        {"GetGeral", {"1"}},
        {"GetFilial", {"0001"}},
        {"GetConvMed", {"01", ""}},
        {"GetInspecao", {"1"}},
        {"GetCargo", {"01001"}},
        {"GetDepto", {"01002"}},
        {"SetInsCarg", {"0001", "01001", "0001"}},
        {"SetDelCarg", {"0001", "01001", "0001"}},
        {"SetInsDep", {"01002", "0001", "001"}},
        {"SetDelDep", {"01002", "0001", "001"}},
        {"SetDelTdCarg", {"0001", "01001"}},
        {"SetDelTdDep", {"0001", "01002"}},
        {"SetInsPad", {"01001", "0001"}},
        {"SetDelPad", {"01001", "0001"}},
    };
    for (const auto& [name, argc] : methods) {
        const QString method = QString::fromLatin1(name);
        for (int position = 0; position < argc; ++position)
            for (const QString& text : hostile) {
                SCOPED_TRACE(QStringLiteral("%1 #%2 %3")
                                 .arg(method)
                                 .arg(position)
                                 .arg(text.left(30))
                                 .toStdString());
                QVector<protocol::Argument> args;
                for (int i = 0; i < argc; ++i)
                    args.push_back(i == position ? text : valid[method][i]);
                const Response r = c.call(method, args);
                if (method.startsWith(QLatin1String("Set")))
                    EXPECT_EQ(r.errorCode, ErrorCode::Refused);
                else if (method == QLatin1String("GetInspecao"))
                    EXPECT_EQ(r.errorCode, ErrorCode::InvalidParams);
                else if (r.ok) {
                    const protocol::DataPacket p = protocol::packetFromJson(r.resultJson);
                    // Lists of everything stay whole, with nothing ticked for an unknown code.
                    if (method == QLatin1String("GetCargo") ||
                        method == QLatin1String("GetDepto")) {
                        EXPECT_FALSE(
                            column(p, QStringLiteral("IDCHECK")).contains(QStringLiteral("S")));
                    } else if (method != QLatin1String("GetConvMed") || position == 0) {
                        EXPECT_TRUE(p.rows.isEmpty());
                    }
                } else
                    ADD_FAILURE() << r.errorCode << " " << r.errorMessage.toStdString();
            }
    }
    // Hostile field names and values inside a delta: refused, or stored verbatim where they fit.
    const std::string hostileName =
        R"([{"fields":[{"name":"CDPARAMRH","type":"string","size":1},{"name":"VRPEDESCVT = 0; DROP TABLE PARAMRH; --","type":"float"}],"changes":[{"op":"update","old":["1",1],"new":["1",2]}]}])";
    EXPECT_EQ(c.callRaw(QStringLiteral("SetGeral"), hostileName).errorCode, ErrorCode::Refused);
    const std::string hostileKey =
        R"([{"fields":[{"name":"CDFILIAL","type":"string","size":30},{"name":"DIFECHRH","type":"string","size":2}],"changes":[{"op":"insert","new":["0004' OR '1'='1","01"]}]}])";
    EXPECT_EQ(c.callRaw(QStringLiteral("SetFilial"), hostileKey).errorCode, ErrorCode::Refused);
    expectServingAndUnchanged();

    const QString directory = QStringLiteral("x'); DELETE FROM PARAMFILIAL; --\"\\ ção");
    protocol::Delta insert;
    insert.fields = {{QStringLiteral("CDFILIAL"), protocol::FieldType::String, 4},
                     {QStringLiteral("NMDIRPONTO"), protocol::FieldType::String, 100}};
    insert.changes.push_back(
        {protocol::DeltaChange::Op::Insert, {}, {QStringLiteral("0005"), directory}});
    ASSERT_TRUE(c.call(QStringLiteral("SetFilial"), {insert}).ok);
    const protocol::DataPacket stored =
        packetOf(c.call(QStringLiteral("GetFilial"), {QStringLiteral("0005")}));
    EXPECT_EQ(column(stored, QStringLiteral("NMDIRPONTO")), QStringList{directory});
    EXPECT_EQ(packetOf(c.call(QStringLiteral("GetFilial"), {QStringLiteral("0001")})).rows.size(),
              1);
}

// No character is dropped or changed between the wire and the database: a NUL, or a byte-order
// mark at the start of a text, is refused in every position; elsewhere the mark is a character.
TEST_F(Robustness, TextsReachTheDatabaseExactlyOrAreRefused) {
    startServer();
    LineClient c(server.port());
    ASSERT_TRUE(c.open().ok);
    const std::pair<const char*, QStringList> calls[] = {
        {"GetGeral", {"1"}},
        {"GetFilial", {"0001"}},
        {"GetConvMed", {"01", ""}},
        {"GetCargo", {"01001"}},
        {"SetInsCarg", {"0001", "01001", "0001"}},
        {"SetDelCarg", {"0001", "01001", "0001"}},
        {"SetDelDep", {"01002", "0001", "001"}},
        {"SetDelTdCarg", {"0001", "01001"}},
        {"SetDelPad", {"01001", "0001"}},
    };
    const QString bom = QString(QChar(0xFEFF));
    protocol::Delta insert;
    insert.fields = {{QStringLiteral("CDFILIAL"), protocol::FieldType::String, 4},
                     {QStringLiteral("NMDIRPONTO"), protocol::FieldType::String, 100}};
    insert.changes.push_back({protocol::DeltaChange::Op::Insert, {}, {QStringLiteral("0005"), {}}});
    // "\ufeff0001" must never reach the database as branch 0001 (SQLite would drop the mark).
    for (const QString& bad : {QStringLiteral("00") + QChar(u'\0') + QStringLiteral("1"),
                               bom + QStringLiteral("0001")}) {
        for (const auto& [name, valid] : calls)
            for (int position = 0; position < valid.size(); ++position) {
                SCOPED_TRACE(
                    QStringLiteral("%1 #%2").arg(QLatin1String(name)).arg(position).toStdString());
                QVector<protocol::Argument> args(valid.begin(), valid.end());
                args[position] = bad;
                EXPECT_EQ(c.call(QString::fromLatin1(name), args).errorCode,
                          ErrorCode::InvalidParams);
            }
        LineClient other(server.port());
        EXPECT_EQ(other.open(bad).errorCode, ErrorCode::InvalidParams);
        insert.changes[0].newValues[1] = bad;
        EXPECT_EQ(c.call(QStringLiteral("SetFilial"), {insert}).errorCode,
                  ErrorCode::InvalidParams);
    }
    expectServingAndUnchanged();
    EXPECT_TRUE(auditRows(server.dbPath()).isEmpty());

    const QString directory = QStringLiteral("/srv/") + bom + QStringLiteral("ponto") + bom;
    insert.changes[0].newValues[1] = directory;
    ASSERT_TRUE(c.call(QStringLiteral("SetFilial"), {insert}).ok);
    const protocol::DataPacket stored =
        packetOf(c.call(QStringLiteral("GetFilial"), {QStringLiteral("0005")}));
    EXPECT_EQ(column(stored, QStringLiteral("NMDIRPONTO")), QStringList{directory});
    EXPECT_EQ(
        storedValue(server.dbPath(),
                    QStringLiteral("SELECT NMDIRPONTO FROM PARAMFILIAL WHERE CDFILIAL = '0005'")),
        directory);
}

TEST_F(Robustness, OversizedMessageIsAnsweredThenItsConnectionClosed) {
    startServer({QStringLiteral("--max-message"), QStringLiteral("4096")});
    LineClient big(server.port());
    ASSERT_TRUE(big.open().ok);
    // Within the limit: an ordinary refused request.
    EXPECT_EQ(big.call(QStringLiteral("GetGeral"), {QString(3000, u'1')}).ok, true);
    QByteArray huge =
        R"({"jsonrpc":"2.0","id":9,"method":"SetGeral","params":[{"fields":[],"changes":[],"pad":")";
    huge += QByteArray(20000, 'a') + "\"}]}\n";
    big.send(huge);
    const Response r = parse(big.readLine());
    EXPECT_EQ(r.errorCode, ErrorCode::InvalidRequest);
    EXPECT_TRUE(big.waitClosed());
    // A line that never ends is cut off too, once it passes the limit.
    LineClient endless(server.port());
    endless.send(QByteArray(10000, ' '));
    EXPECT_EQ(parse(endless.readLine()).errorCode, ErrorCode::InvalidRequest);
    EXPECT_TRUE(endless.waitClosed());
    expectServingAndUnchanged();
}

// Huge deltas cost work in proportion to their size and are refused as too large; the one worker
// they land on goes on serving. The bound is generous: today's figure is milliseconds.
TEST_F(Robustness, HugeDeltasAreRefusedQuicklyAndNothingIsStored) {
    startServer({QStringLiteral("--workers"), QStringLiteral("1")});
    LineClient c(server.port());
    ASSERT_TRUE(c.open().ok);
    const auto fields = [](int n, bool twins) {
        std::string out = R"([{"name":"CDPARAMRH","type":"string","size":1})";
        for (int i = 0; i < n; ++i)
            out += R"(,{"name":"F)" + std::to_string(twins ? i / 2 : i) + R"(","type":"float"})";
        return out + "]";
    };
    std::string manyChanges;
    for (int i = 0; i <= protocol::MaxChanges; ++i)
        manyChanges += std::string(i ? "," : "") + R"({"op":"update","old":["1"],"new":["1"]})";
    const std::pair<std::string, int> cases[] = {
        {"[{\"fields\":" + fields(64000, false) + R"(,"changes":[]}])", ErrorCode::InvalidParams},
        {"[{\"fields\":" + fields(64000, true) + R"(,"changes":[]}])", ErrorCode::InvalidParams},
        {"[{\"fields\":" + fields(0, false) + ",\"changes\":[" + manyChanges + "]}]",
         ErrorCode::InvalidParams},
        {"[{\"fields\":" + fields(protocol::MaxFields - 1, true) + R"(,"changes":[]}])",
         ErrorCode::Refused},
    };
    for (const auto& [params, code] : cases) {
        SCOPED_TRACE(params.substr(0, 80) + "… " + std::to_string(params.size()) + " bytes");
        QElapsedTimer clock;
        clock.start();
        const Response r = c.callRaw(QStringLiteral("SetGeral"), params);
        EXPECT_LT(clock.elapsed(), 5000);
        EXPECT_EQ(r.errorCode, code) << r.errorMessage.toStdString();
        EXPECT_TRUE(r.errorMessage.endsWith(u'.')) << r.errorMessage.toStdString();
    }
    expectServingAndUnchanged();
    EXPECT_TRUE(auditRows(server.dbPath()).isEmpty());
}

TEST_F(Robustness, ClientDroppedInTheMiddleOfARequestChangesNothing) {
    startServer();
    {
        LineClient dropped(server.port());
        ASSERT_TRUE(dropped.open().ok);
        dropped.send(
            R"({"jsonrpc":"2.0","id":5,"method":"SetInsCarg","params":["0001","01003","0002"])");
        dropped.close();
    }
    {
        LineClient dropped(server.port());
        ASSERT_TRUE(dropped.open().ok);
        const std::string full = protocol::requestJson(
            6, QStringLiteral("SetDelTdCarg"), {QStringLiteral("0001"), QStringLiteral("01001")});
        dropped.send(QByteArray::fromStdString(full.substr(0, full.size() - 1)));
        dropped.close();
    }
    expectServingAndUnchanged();
    EXPECT_TRUE(auditRows(server.dbPath()).isEmpty());
}

// With a single worker thread, a client stalled halfway through a line shares its thread with
// the one that must still be served.
TEST_F(Robustness, StalledClientDoesNotHoldUpOthers) {
    startServer({QStringLiteral("--workers"), QStringLiteral("1")});
    LineClient slow(server.port());
    ASSERT_TRUE(slow.open().ok);
    slow.send(R"({"jsonrpc":"2.0","id":77,"method":"GetCar)");
    LineClient quick(server.port());
    ASSERT_TRUE(quick.open(QStringLiteral("0002")).ok);
    for (int i = 0; i < 50; ++i) {
        const Response r = i % 2 ? quick.call(QStringLiteral("GetGeral"), {QStringLiteral("1")})
                                 : quick.call(QStringLiteral("SetInsPad"),
                                              {QStringLiteral("01002"), QStringLiteral("0002")});
        ASSERT_TRUE(r.ok) << i << " " << r.errorMessage.toStdString();
    }
    // The stalled request completes when the rest of its line arrives.
    slow.send(R"(go","params":["01001"]})"
              "\n");
    EXPECT_EQ(packetOf(parse(slow.readLine())).rows.size(), 20);
}

TEST_F(Robustness, ManyConnectionsAtOnceAreAllServed) {
    startServer();
    std::vector<std::unique_ptr<LineClient>> clients;
    for (int i = 0; i < 24; ++i) {
        clients.push_back(std::make_unique<LineClient>(server.port()));
        ASSERT_TRUE(clients.back()->open(QStringLiteral("000%1").arg(i % 5 + 1)).ok);
    }
    // Every client sends before any reads, so all requests are in flight together.
    for (auto& c : clients)
        c->send(QByteArray::fromStdString(
            protocol::requestJson(1, QStringLiteral("GetInspecao"), {QStringLiteral("1")})));
    for (auto& c : clients)
        EXPECT_GE(packetOf(parse(c->readLine())).rows.size(), 3);
    expectServingAndUnchanged();
}

TEST_F(Robustness, TokenIsRequiredWhenTheServerHasOne) {
    QFile token(server.path(QStringLiteral("token")));
    ASSERT_TRUE(token.open(QIODevice::WriteOnly));
    token.write("segredo-123-0123456789\n");
    token.close();
    token.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    startServer({QStringLiteral("--token-file"), token.fileName()});
    // A failed open ends its connection.
    for (const QString& wrong : {QString(), QStringLiteral("segredo-12-0123456789")}) {
        LineClient guess(server.port());
        EXPECT_TRUE(guess.call(QStringLiteral("ping"), {}).ok);
        EXPECT_EQ(guess.open(QStringLiteral("0001"), wrong).errorCode, ErrorCode::NotAuthorised);
        EXPECT_TRUE(guess.waitClosed(5000));
    }
    LineClient c(server.port());
    EXPECT_EQ(c.call(QStringLiteral("GetGeral"), {QStringLiteral("1")}).errorCode,
              ErrorCode::NotOpen);
    EXPECT_TRUE(c.open(QStringLiteral("0001"), QStringLiteral("segredo-123-0123456789")).ok);
    EXPECT_TRUE(c.call(QStringLiteral("GetGeral"), {QStringLiteral("1")}).ok);
}

// Wrong tokens from an address slow every open from it, the right token's too: guesses sent
// one after another for 5 s, with a reading key's open after every four, get few verdicts, and
// the right key still gets in, later.
TEST_F(Robustness, GuessesFromAnAddressWaitForEachVerdict) {
    QFile tokens(server.path(QStringLiteral("tokens")));
    ASSERT_TRUE(tokens.open(QIODevice::WriteOnly));
    tokens.write("gestor admin segredo-do-gestor-0123456789\n"
                 "painel leitura segredo-do-painel-0123456789\n");
    tokens.close();
    tokens.setPermissions(QFileDevice::ReadOwner);
    startServer({QStringLiteral("--token-file"), tokens.fileName()});
    QElapsedTimer clock;
    clock.start();
    int verdicts = 0, wrong = 0, rightInSlowdown = 0;
    for (int n = 0; n < 250 && clock.elapsed() < 5000; ++n) {
        const bool right = n % 5 == 4;
        LineClient c(server.port());
        // A ping before open is no way around the wait.
        if (n % 2) c.call(QStringLiteral("ping"), {});
        const Response r =
            c.open(QStringLiteral("0001"), right ? QStringLiteral("segredo-do-painel-0123456789")
                                                 : QStringLiteral("chute-%1-0123456789").arg(n));
        if (clock.elapsed() > 5000) break;
        ++verdicts;
        if (!right) {
            EXPECT_EQ(r.errorCode, ErrorCode::NotAuthorised);
            ++wrong;
            continue;
        }
        EXPECT_TRUE(r.ok) << r.errorMessage.toStdString();
        if (r.ok && wrong >= rhserver::AuthThrottle::FreeFailures) ++rightInSlowdown;
    }
    EXPECT_LE(verdicts, 20);
    EXPECT_GE(rightInSlowdown, 1);
}

} // namespace
