// What the audit table says is what was applied: requests that two JSON readers would read two
// ways are refused, writes that change nothing leave no row, and a row holds the arguments as the
// service understood them.

#include "DemoServer.h"

#include <gtest/gtest.h>

using namespace testing_rh;
using protocol::Response;
namespace ErrorCode = protocol::ErrorCode;

namespace {

class Audit : public DemoServerTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(DemoServerTest::SetUp());
        ASSERT_NO_FATAL_FAILURE(serve());
        before = dumpStoredData(server.dbPath());
    }
    QString before;
};

const std::string fields =
    R"("fields":[{"name":"CDPARAMRH","type":"string","size":1},{"name":"VRPEDESCVT","type":"float"}])";
const std::string change = R"({"op":"update","old":["1",6],"new":["1",9]})";

std::string setGeral(const std::string& delta) {
    return R"({"jsonrpc":"2.0","id":1,"method":"SetGeral","params":[)" + delta + "]}\n";
}

TEST_F(Audit, RepeatedKeysAreRefusedWherever) {
    LineClient c(server.port());
    ASSERT_TRUE(c.open().ok);
    std::string wide = R"({"a":1,"b":2,"c":3,"d":4,"e":5,"f":6,"g":7,"h":8,"i":9,"j":10,"c":11})";
    const std::string lines[] = {
        // The first "changes" would be applied and the audit read as the second.
        setGeral("{" + fields + R"(,"changes":[)" + change + R"(],"changes":[]})"),
        setGeral("{" + fields +
                 R"(,"changes":[{"op":"update","old":["1",6],"new":["1",9],"new":["1",6]}]})"),
        setGeral(
            R"({"fields":[{"name":"CDPARAMRH","type":"string","size":1},{"name":"VRPEDESCVT","name":"VRPEENCEFET","type":"float"}],"changes":[)" +
            change + "]}"),
        R"({"jsonrpc":"2.0","id":1,"method":"GetGeral","method":"SetInsPad","params":["01003","0001"]})"
        "\n",
        R"({"jsonrpc":"2.0","id":1,"id":2,"method":"SetInsPad","params":["01003","0001"]})"
        "\n",
        R"({"jsonrpc":"2.0","id":1,"method":"SetInsPad","params":["01003","0001"],"x":)" + wide +
            "}\n",
    };
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        const Response r = c.request(line);
        EXPECT_EQ(r.errorCode, ErrorCode::InvalidRequest) << r.errorMessage.toStdString();
        EXPECT_TRUE(r.errorMessage.contains(u"repete")) << r.errorMessage.toStdString();
    }
    // An open whose branch is said twice opens nothing.
    LineClient other(server.port());
    EXPECT_EQ(
        other
            .request(
                R"({"jsonrpc":"2.0","id":1,"method":"open","params":{"object":"ZOL00900.rdmParametrosZOL","branch":"0001","branch":"0002"}})"
                "\n")
            .errorCode,
        ErrorCode::InvalidRequest);
    EXPECT_EQ(other.call(QStringLiteral("GetGeral"), {QStringLiteral("1")}).errorCode,
              ErrorCode::NotOpen);
    EXPECT_EQ(dumpStoredData(server.dbPath()), before);
    EXPECT_TRUE(auditRows(server.dbPath()).isEmpty());
    // Keys repeated in different objects are not repeats.
    EXPECT_TRUE(c.request(setGeral("{" + fields + R"(,"changes":[)" + change + "]}")).ok);
}

TEST_F(Audit, WritesThatChangeNothingLeaveNoRow) {
    LineClient c(server.port());
    ASSERT_TRUE(c.open().ok);
    const auto call = [&](const char* method, const QStringList& args) {
        QVector<protocol::Argument> list(args.begin(), args.end());
        const Response r = c.call(QString::fromLatin1(method), list);
        EXPECT_TRUE(r.ok) << method << " " << r.errorMessage.toStdString();
    };
    // Each of these finds the database already as asked (demo data).
    call("SetInsCarg", {"0001", "01001", "0001"});
    call("SetDelCarg", {"0001", "01001", "0003"});
    call("SetInsDep", {"01002", "0001", "001"});
    call("SetDelDep", {"01002", "0001", "005"});
    call("SetDelTdCarg", {"0003", "01001"});
    call("SetDelTdDep", {"0003", "01002"});
    call("SetInsPad", {"01003", "0001"});
    call("SetDelPad", {"01002", "0001"});
    EXPECT_TRUE(c.request(setGeral("{" + fields + R"(,"changes":[]})")).ok);
    EXPECT_TRUE(c.request(setGeral("{" + fields +
                                   R"(,"changes":[{"op":"update","old":["1",6],"new":["1",6]}]})"))
                    .ok);
    EXPECT_EQ(dumpStoredData(server.dbPath()), before);
    EXPECT_TRUE(auditRows(server.dbPath()).isEmpty());
    // The same calls when they do change something each leave their row.
    call("SetDelCarg", {"0001", "01001", "0001"});
    call("SetDelPad", {"01003", "0001"});
    EXPECT_EQ(auditRows(server.dbPath()).size(), 2);
}

// The row holds the delta as applied: keys the service does not read and other spellings of the
// same numbers are gone, so any JSON reader replays the same change.
TEST_F(Audit, RowHoldsTheArgumentsAsApplied) {
    LineClient c(server.port());
    ASSERT_TRUE(c.open().ok);
    const Response r = c.request(setGeral(
        "{" + fields +
        R"(,"note":"ignorada","changes":[{"op":"update","when":"x","old":["1",6.0e0],"new":["1",95e-1]}]})"));
    ASSERT_TRUE(r.ok) << r.errorMessage.toStdString();
    const QVector<AuditRow> rows = auditRows(server.dbPath());
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].arguments.toStdString(),
              "[{" + fields + R"(,"changes":[{"op":"update","old":["1",6],"new":["1",9.5]}]}])");
    // The machine that made it.
    EXPECT_EQ(rows[0].address, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(storedValue(server.dbPath(),
                          QStringLiteral("SELECT VRPEDESCVT FROM PARAMRH WHERE CDPARAMRH = '1'")),
              QStringLiteral("9.5"));
}

// Names of other tables shown beside the record (the index's here) are not written, and the row
// does not claim they were.
TEST_F(Audit, RowHoldsOnlyWhatWasWritten) {
    LineClient c(server.port());
    ASSERT_TRUE(c.open().ok);
    const std::string shown =
        R"("fields":[{"name":"CDPARAMRH","type":"string","size":1},{"name":"VRPEDESCVT","type":"float"},{"name":"NMINDICE","type":"string","size":30}])";
    const Response r = c.request(setGeral(
        "{" + shown + R"(,"changes":[{"op":"update","old":["1",6,"A"],"new":["1",9,"B"]}]})"));
    ASSERT_TRUE(r.ok) << r.errorMessage.toStdString();
    const QVector<AuditRow> rows = auditRows(server.dbPath());
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].arguments.toStdString(), "[{" + fields + R"(,"changes":[)" + change + "]}]");
}

} // namespace
