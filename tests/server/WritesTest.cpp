// Deltas from the screen's own client (TNetConnection + TClientDataSet) and the audit trail.

#include "DemoServer.h"
#include "contract/Methods.h"

#include "ClientDataSet.h"
#include "Consiste.h"
#include "DataSets.h"
#include "Exceptions.h"
#include "HostServices.h"
#include "NetConnection.h"

#include <gtest/gtest.h>

using namespace testing_rh;
using protocol::Delta;
using protocol::DeltaChange;
using protocol::FieldSpec;
using protocol::FieldType;

namespace {

// The host state a connection reads when it opens: the branch and no token.
class TestHost : public HostServices {
public:
    QString branch = QStringLiteral("0001");
    QString FiliProc() override { return branch; }
    QString WebURL() override { return QStringLiteral("127.0.0.1"); }
    int WebPort() override { return 0; }
    int codePictureLevels(int) override { return 2; }
    void showError(const QString&) override {}
    ModalResult ask(const QString&, MsgDlgType, const QList<ModalResult>&) override {
        return ModalResult::Ok;
    }
    bool pickRow(TClientDataSet&, const QStringList&, const QString&) override { return false; }
    QString selectDirectory(const QString&) override { return {}; }
    void busyStart() override {}
    void busyStop() override {}
    void setWaitCursor(bool) override {}
    void handleException(const std::exception&) override {}
};

// One screen's worth of client: its connection and one record set filled through the service.
struct Screen {
    TNetConnection net;
    TClientDataSet cds;

    Screen(quint16 port, void (*define)(TClientDataSet&)) {
        net.ServerName = QString(contract::ServerObjectName);
        net.Host = QStringLiteral("127.0.0.1");
        net.Port = port;
        net.ThrowException = true;
        net.SetConnected(true);
        define(cds);
    }
    void load(const QString& method, const QString& arg) {
        cds.SetData(CheckResultServ(net.AppServer().call(method, {arg}), true, 0));
    }
    // The after-post pattern of the screen: send the change log, merge only when accepted.
    protocol::Response save(const QString& method) {
        const protocol::Response r = net.AppServer().call(method, {cds.Delta()});
        CheckResultServ(r, true, 0);
        cds.MergeChangeLog();
        return r;
    }
};

class ServiceWrites : public DemoServerTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(DemoServerTest::SetUp());
        ASSERT_NO_FATAL_FAILURE(serve());
        setHostServices(&host);
    }
    void TearDown() override { setHostServices(nullptr); }

    protocol::DataPacket fetch(const QString& method, const QString& arg) {
        LineClient c(server.port());
        EXPECT_TRUE(c.open().ok);
        return packetOf(c.call(method, {arg}));
    }
    QVariant stored(const QString& method, const QString& arg, const QString& field) {
        const protocol::DataPacket p = fetch(method, arg);
        return p.rows.isEmpty() ? QVariant() : p.rows[0][p.indexOf(field)];
    }

    TestHost host;
};

TEST_F(ServiceWrites, SecondEditOfTheSameFieldIsRefusedAndKeepsItsChanges) {
    Screen a(server.port(), data::defineGeral), b(server.port(), data::defineGeral);
    a.load(QStringLiteral("GetGeral"), QStringLiteral("1"));
    b.load(QStringLiteral("GetGeral"), QStringLiteral("1"));
    const double original = a.cds.FieldByName(QStringLiteral("VRPRAZEFEFUN")).AsFloat();
    const double first = original + 30, second = original + 60;

    a.cds.Edit();
    a.cds.FieldByName(QStringLiteral("VRPRAZEFEFUN")).SetValue(first);
    a.cds.Post();
    b.cds.Edit();
    b.cds.FieldByName(QStringLiteral("VRPRAZEFEFUN")).SetValue(second);
    b.cds.Post();

    EXPECT_NO_THROW(a.save(QStringLiteral("SetGeral")));
    EXPECT_EQ(a.cds.ChangeCount(), 0);
    const QString afterFirst = dumpStoredData(server.dbPath());
    const protocol::Response refused =
        b.net.AppServer().call(QStringLiteral("SetGeral"), {b.cds.Delta()});
    EXPECT_EQ(refused.errorCode, protocol::ErrorCode::Conflict);
    EXPECT_TRUE(refused.errorMessage.contains(QStringLiteral("Outro usuário")))
        << refused.errorMessage.toStdString();
    try {
        b.save(QStringLiteral("SetGeral"));
        ADD_FAILURE() << "a conflicting delta was accepted";
    } catch (const EServerError& e) {
        EXPECT_EQ(e.code(), protocol::ErrorCode::Conflict);
    }
    EXPECT_GT(b.cds.ChangeCount(), 0);
    EXPECT_EQ(dumpStoredData(server.dbPath()), afterFirst);
    EXPECT_EQ(
        stored(QStringLiteral("GetGeral"), QStringLiteral("1"), QStringLiteral("VRPRAZEFEFUN"))
            .toDouble(),
        first);

    // Reloaded, the refused screen can apply its change on top of the first one.
    b.load(QStringLiteral("GetGeral"), QStringLiteral("1"));
    b.cds.Edit();
    b.cds.FieldByName(QStringLiteral("VRPRAZEFEFUN")).SetValue(second);
    b.cds.Post();
    EXPECT_NO_THROW(b.save(QStringLiteral("SetGeral")));
    EXPECT_EQ(
        stored(QStringLiteral("GetGeral"), QStringLiteral("1"), QStringLiteral("VRPRAZEFEFUN"))
            .toDouble(),
        second);
}

TEST_F(ServiceWrites, EditsOfDifferentFieldsBothApply) {
    Screen a(server.port(), data::defineGeral), b(server.port(), data::defineGeral);
    a.load(QStringLiteral("GetGeral"), QStringLiteral("1"));
    b.load(QStringLiteral("GetGeral"), QStringLiteral("1"));
    a.cds.Edit();
    a.cds.FieldByName(QStringLiteral("QTDIASFERIPG")).SetValue(30.0);
    a.cds.FieldByName(QStringLiteral("IDTPFERIASPG")).SetValue(QStringLiteral("C"));
    a.cds.Post();
    b.cds.Edit();
    b.cds.FieldByName(QStringLiteral("DTBASECB")).SetValue(QDate(2027, 3, 1));
    b.cds.FieldByName(QStringLiteral("VRPEENCTEMP")).SetValue(13.75);
    b.cds.Post();
    EXPECT_NO_THROW(a.save(QStringLiteral("SetGeral")));
    EXPECT_NO_THROW(b.save(QStringLiteral("SetGeral")));
    const protocol::DataPacket p = fetch(QStringLiteral("GetGeral"), QStringLiteral("1"));
    const protocol::Row& row = p.rows[0];
    EXPECT_EQ(row[p.indexOf(QStringLiteral("QTDIASFERIPG"))].toDouble(), 30.0);
    EXPECT_EQ(row[p.indexOf(QStringLiteral("IDTPFERIASPG"))].toString(), QStringLiteral("C"));
    EXPECT_EQ(row[p.indexOf(QStringLiteral("DTBASECB"))].toDate(), QDate(2027, 3, 1));
    EXPECT_EQ(row[p.indexOf(QStringLiteral("VRPEENCTEMP"))].toDouble(), 13.75);
}

TEST_F(ServiceWrites, NewBranchRecordIsInsertedOnceAndDisplayFieldsAreIgnored) {
    Screen a(server.port(), data::defineFilial), b(server.port(), data::defineFilial);
    a.load(QStringLiteral("GetFilial"), QStringLiteral("0004"));
    b.load(QStringLiteral("GetFilial"), QStringLiteral("0004"));
    ASSERT_TRUE(a.cds.IsEmpty());
    for (Screen* s : {&a, &b}) {
        s->cds.Edit(); // an empty set starts a new record
        s->cds.FieldByName(QStringLiteral("CDFILIAL")).SetValue(QStringLiteral("0004"));
        s->cds.FieldByName(QStringLiteral("NMFILIAL"))
            .SetValue(QStringLiteral("Nome digitado na tela"));
        s->cds.FieldByName(QStringLiteral("DIFECHRH"))
            .SetValue(s == &a ? QStringLiteral("15") : QStringLiteral("16"));
        s->cds.FieldByName(QStringLiteral("CDCONMEDDEF")).SetValue(QStringLiteral("03"));
        s->cds.FieldByName(QStringLiteral("NMCONVMEDI"))
            .SetValue(QStringLiteral("Nome que não é do convênio"));
        s->cds.FieldByName(QStringLiteral("NMDIRPONTO"))
            .SetValue(QStringLiteral("C:\\Ponto\\Curitiba"));
        s->cds.Post();
    }
    EXPECT_NO_THROW(a.save(QStringLiteral("SetFilial")));
    EXPECT_THROW(b.save(QStringLiteral("SetFilial")), EServerError);
    EXPECT_EQ(b.net.AppServer().call(QStringLiteral("SetFilial"), {b.cds.Delta()}).errorCode,
              protocol::ErrorCode::Conflict);
    EXPECT_GT(b.cds.ChangeCount(), 0);

    const protocol::DataPacket p = fetch(QStringLiteral("GetFilial"), QStringLiteral("0004"));
    ASSERT_EQ(p.rows.size(), 1);
    const auto value = [&](const char* f) { return p.rows[0][p.indexOf(QString::fromLatin1(f))]; };
    EXPECT_EQ(value("DIFECHRH").toString(), QStringLiteral("15"));
    EXPECT_EQ(value("NMDIRPONTO").toString(), QStringLiteral("C:\\Ponto\\Curitiba"));
    // The names come from their own tables, never from the delta.
    EXPECT_EQ(value("NMFILIAL").toString(),
              storedValue(server.dbPath(),
                          QStringLiteral("SELECT NMFILIAL FROM FILIAL WHERE CDFILIAL = '0004'")));
    EXPECT_EQ(
        value("NMCONVMEDI").toString(),
        storedValue(server.dbPath(),
                    QStringLiteral("SELECT NMCONVMEDI FROM CONVMEDI WHERE CDCONVMEDI = '03'")));
    EXPECT_NE(value("NMCONVMEDI").toString(), QStringLiteral("Nome que não é do convênio"));
    // Further edits of the new record go through as updates.
    a.cds.Edit();
    a.cds.FieldByName(QStringLiteral("DIFECHRH")).SetValue(QStringLiteral("20"));
    a.cds.Post();
    EXPECT_NO_THROW(a.save(QStringLiteral("SetFilial")));
    EXPECT_EQ(
        stored(QStringLiteral("GetFilial"), QStringLiteral("0004"), QStringLiteral("DIFECHRH"))
            .toString(),
        QStringLiteral("20"));
}

// Deltas built by hand: each holds something the columns cannot take.
TEST_F(ServiceWrites, ValuesTheColumnsCannotHoldAreRefusedWhole) {
    Screen a(server.port(), data::defineGeral);
    a.load(QStringLiteral("GetGeral"), QStringLiteral("1"));
    const Delta base = [&] {
        a.cds.Edit();
        a.cds.FieldByName(QStringLiteral("VRPEDESCVT")).SetValue(7.5);
        a.cds.Post();
        return a.cds.Delta();
    }();
    const auto with = [&](const char* field, const QVariant& value) {
        Delta d = base;
        d.changes[0].newValues[d.indexOf(QString::fromLatin1(field))] = value;
        return d;
    };
    const auto retyped = [&](const char* field, FieldSpec definition, const QVariant& value) {
        Delta d = with(field, value);
        d.fields[d.indexOf(QString::fromLatin1(field))] = definition;
        return d;
    };
    Delta unknownField = base;
    unknownField.fields.push_back({QStringLiteral("VRNAOEXISTE"), FieldType::Float, 0});
    unknownField.changes[0].oldValues.push_back(1.0);
    unknownField.changes[0].newValues.push_back(2.0);
    Delta withoutKey = base;
    withoutKey.fields.removeFirst();
    withoutKey.changes[0].oldValues.removeFirst();
    withoutKey.changes[0].newValues.removeFirst();
    Delta otherKey = base;
    otherKey.changes[0].oldValues[0] = otherKey.changes[0].newValues[0] = QStringLiteral("2");
    Delta insertGeral = base;
    insertGeral.changes[0].op = DeltaChange::Op::Insert;
    insertGeral.changes[0].oldValues.clear();

    const std::pair<const char*, Delta> refused[] = {
        {"unknown index", with("CDINDICECB", QStringLiteral("9999"))},
        {"index too long",
         retyped("CDINDICECB", {QStringLiteral("CDINDICECB"), FieldType::String, 10},
                 QStringLiteral("00110"))},
        {"number as text",
         retyped("VRPRAZEFEFUN", {QStringLiteral("VRPRAZEFEFUN"), FieldType::String, 10},
                 QStringLiteral("90"))},
        {"date as number",
         retyped("DTBASECB", {QStringLiteral("DTBASECB"), FieldType::Float, 0}, 20260101.0)},
        {"text too long", retyped("IDTPINDCB", {QStringLiteral("IDTPINDCB"), FieldType::String, 5},
                                  QStringLiteral("VV"))},
        {"index kind not P or V", with("IDTPINDCB", QStringLiteral("X"))},
        {"index kind in small letters", with("IDTPINDCB", QStringLiteral("p"))},
        {"vacation kind not U or C", with("IDTPFERIASPG", QStringLiteral("D"))},
        {"negative confirmation deadline", with("VRPRAZEFEFUN", -1.0)},
        {"negative vacation days", with("QTDIASFERIPG", -0.5)},
        {"unknown field", unknownField},
        {"no key", withoutKey},
        {"other key", otherKey},
    };
    const QString before = dumpStoredData(server.dbPath());
    for (const auto& [what, delta] : refused) {
        SCOPED_TRACE(what);
        const protocol::Response r = a.net.AppServer().call(QStringLiteral("SetGeral"), {delta});
        EXPECT_EQ(r.errorCode, protocol::ErrorCode::Refused) << r.errorMessage.toStdString();
        EXPECT_FALSE(r.errorMessage.isEmpty());
    }
    EXPECT_EQ(a.net.AppServer().call(QStringLiteral("SetGeral"), {insertGeral}).errorCode,
              protocol::ErrorCode::Conflict);

    Screen f(server.port(), data::defineFilial);
    f.load(QStringLiteral("GetFilial"), QStringLiteral("0001"));
    f.cds.Edit();
    f.cds.FieldByName(QStringLiteral("CDCONMEDDEF")).SetValue(QStringLiteral("99"));
    f.cds.Post();
    EXPECT_EQ(f.net.AppServer().call(QStringLiteral("SetFilial"), {f.cds.Delta()}).errorCode,
              protocol::ErrorCode::Refused);
    Screen g(server.port(), data::defineFilial);
    g.load(QStringLiteral("GetFilial"), QStringLiteral("0009"));
    g.cds.Edit();
    g.cds.FieldByName(QStringLiteral("CDFILIAL")).SetValue(QStringLiteral("0009"));
    g.cds.Post();
    EXPECT_EQ(g.net.AppServer().call(QStringLiteral("SetFilial"), {g.cds.Delta()}).errorCode,
              protocol::ErrorCode::Refused);
    // The key of a stored record never changes, even to a branch that has no record yet.
    Screen k(server.port(), data::defineFilial);
    k.load(QStringLiteral("GetFilial"), QStringLiteral("0001"));
    k.cds.Edit();
    k.cds.FieldByName(QStringLiteral("CDFILIAL")).SetValue(QStringLiteral("0004"));
    k.cds.Post();
    const protocol::Response rekeyed =
        k.net.AppServer().call(QStringLiteral("SetFilial"), {k.cds.Delta()});
    EXPECT_EQ(rekeyed.errorCode, protocol::ErrorCode::Refused);
    EXPECT_TRUE(rekeyed.errorMessage.contains(QStringLiteral("não pode ser alterado")))
        << rekeyed.errorMessage.toStdString();
    // A delta whose second change is bad stores nothing of its first.
    Delta mixed = base;
    mixed.changes.push_back(with("CDINDICECB", QStringLiteral("9999")).changes[0]);
    mixed.changes[1].oldValues = base.changes[0].newValues;
    EXPECT_EQ(a.net.AppServer().call(QStringLiteral("SetGeral"), {mixed}).errorCode,
              protocol::ErrorCode::Refused);

    EXPECT_EQ(dumpStoredData(server.dbPath()), before);
    EXPECT_TRUE(auditRows(server.dbPath()).isEmpty());
    EXPECT_EQ(
        a.net.AppServer()
            .call(QStringLiteral("SetGeral"), {with("VRPRAZEFEFUN", -1.0)})
            .errorMessage,
        QStringLiteral("Prazo máximo para efetivação do funcionário (dias)  deve ser maior ou "
                       "igual a zero."));
    // The delta with every code and count in range goes through.
    Delta valid = with("IDTPINDCB", QStringLiteral("P"));
    valid.changes[0].newValues[valid.indexOf(QStringLiteral("IDTPFERIASPG"))] = QStringLiteral("C");
    valid.changes[0].newValues[valid.indexOf(QStringLiteral("QTDIASFERIPG"))] = 0.0;
    valid.changes[0].newValues[valid.indexOf(QStringLiteral("VRPRAZEFEFUN"))] = 0.0;
    const protocol::Response accepted = a.net.AppServer().call(QStringLiteral("SetGeral"), {valid});
    EXPECT_TRUE(accepted.ok) << accepted.errorMessage.toStdString();
    EXPECT_EQ(storedValue(
                  server.dbPath(),
                  QStringLiteral("SELECT IDTPINDCB || IDTPFERIASPG || QTDIASFERIPG FROM PARAMRH")),
              QStringLiteral("PC0.0"));
}

TEST_F(ServiceWrites, EveryAcceptedWriteLeavesOneAuditRow) {
    LineClient first(server.port()), second(server.port());
    ASSERT_TRUE(first.open(QStringLiteral("0001")).ok);
    ASSERT_TRUE(second.open(QStringLiteral("0002")).ok);
    Screen screen(server.port(), data::defineGeral);
    screen.load(QStringLiteral("GetGeral"), QStringLiteral("1"));
    screen.cds.Edit();
    screen.cds.FieldByName(QStringLiteral("VRCESTABAS")).SetValue(701.25);
    screen.cds.Post();

    EXPECT_TRUE(first
                    .call(QStringLiteral("SetInsCarg"),
                          {QStringLiteral("0001"), QStringLiteral("01002"), QStringLiteral("0003")})
                    .ok);
    EXPECT_EQ(first
                  .call(QStringLiteral("SetInsCarg"),
                        {QStringLiteral("0001"), QStringLiteral("01002"), QStringLiteral("9999")})
                  .errorCode,
              protocol::ErrorCode::Refused);
    EXPECT_TRUE(first.call(QStringLiteral("GetCargo"), {QStringLiteral("01002")}).ok);
    EXPECT_TRUE(
        second.call(QStringLiteral("SetInsPad"), {QStringLiteral("02003"), QStringLiteral("0002")})
            .ok);
    EXPECT_TRUE(
        second.call(QStringLiteral("SetDelPad"), {QStringLiteral("02003"), QStringLiteral("0002")})
            .ok);
    EXPECT_NO_THROW(screen.save(QStringLiteral("SetGeral")));

    const QVector<AuditRow> rows = auditRows(server.dbPath());
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(rows[0].method, QStringLiteral("SetInsCarg"));
    EXPECT_EQ(rows[0].branch, QStringLiteral("0001"));
    EXPECT_EQ(rows[0].arguments, QStringLiteral(R"(["0001","01002","0003"])"));
    EXPECT_EQ(rows[1].method, QStringLiteral("SetInsPad"));
    EXPECT_EQ(rows[1].branch, QStringLiteral("0002"));
    EXPECT_EQ(rows[2].method, QStringLiteral("SetDelPad"));
    EXPECT_EQ(rows[1].session, rows[2].session);
    EXPECT_NE(rows[0].session, rows[1].session);
    EXPECT_EQ(rows[3].method, QStringLiteral("SetGeral"));
    EXPECT_NE(rows[3].session, rows[0].session);
    const Delta logged = protocol::deltaFromJson(
        rows[3].arguments.mid(1, rows[3].arguments.size() - 2).toStdString());
    EXPECT_EQ(logged.changes.size(), 1);
    EXPECT_EQ(logged.changes[0].newValues[logged.indexOf(QStringLiteral("VRCESTABAS"))].toDouble(),
              701.25);
    for (const AuditRow& r : rows)
        EXPECT_TRUE(QDateTime::fromString(r.when, Qt::ISODateWithMs).isValid())
            << r.when.toStdString();
}

} // namespace
