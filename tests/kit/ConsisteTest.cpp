// The validation routines, the error report with its quiet abort, the dispatcher that ends
// handlers, and the check of server results.

#include "Consiste.h"
#include "Dispatch.h"
#include "Exceptions.h"
#include "QtPrinters.h"
#include "RecordingHost.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

using protocol::DataPacket;
using protocol::FieldType;

namespace {

TEST(Consiste, EmptyStringCountsBlanksAsEmpty) {
    EXPECT_TRUE(EmptyString(QString()));
    EXPECT_TRUE(EmptyString(QStringLiteral("")));
    EXPECT_TRUE(EmptyString(QStringLiteral("    ")));
    EXPECT_FALSE(EmptyString(QStringLiteral(" 0 ")));
    EXPECT_FALSE(EmptyString(QStringLiteral("Ç")));
}

TEST(Consiste, AjustaBringsACodeToItsStoredWidth) {
    EXPECT_EQ(Ajusta(QStringLiteral("1"), 4), "0001");
    EXPECT_EQ(Ajusta(QStringLiteral(" 12 "), 4), "0012");
    EXPECT_EQ(Ajusta(QStringLiteral("7"), 2), "07");
    EXPECT_EQ(Ajusta(QStringLiteral("0001"), 4), "0001");
    EXPECT_EQ(Ajusta(QStringLiteral("12345"), 4), "12345");
    EXPECT_EQ(Ajusta(QStringLiteral(" 123456 "), 4), "123456");
}

TEST(Consiste, MensErroShowsTheTextAndStopsOnlyWhenAsked) {
    RecordingHost host;
    const QString text =
        QStringLiteral("Prazo máximo para efetivação do funcionário (dias)  deve ser maior.");
    EXPECT_NO_THROW(MensErro(text, false));
    EXPECT_THROW(MensErro(text, true), EAbort);
    EXPECT_EQ(host.errors, QStringList({text, text}));
    EXPECT_TRUE(host.exceptions.isEmpty());
}

TEST(Dispatch, SwallowsTheQuietAbortAndReportsEveryOtherFailure) {
    RecordingHost host;
    bool ranAfterMessage = false;
    EXPECT_FALSE(Dispatch([&] {
        MensErro(QStringLiteral("Filial não cadastrada."), true);
        ranAfterMessage = true;
    }));
    EXPECT_FALSE(ranAfterMessage);
    EXPECT_EQ(host.errors, QStringList({"Filial não cadastrada."}));
    EXPECT_TRUE(host.exceptions.isEmpty());

    EXPECT_FALSE(
        Dispatch([] { throw EDatabaseError(QStringLiteral("Registro não está em edição")); }));
    EXPECT_FALSE(Dispatch([] { throw std::runtime_error("falha"); }));
    EXPECT_EQ(host.exceptions, QStringList({"Registro não está em edição", "falha"}));

    bool ran = false;
    EXPECT_TRUE(Dispatch([&] { ran = true; }));
    EXPECT_TRUE(ran);
    EXPECT_EQ(host.exceptions.size(), 2);
}

TEST(Dispatch, KeepsFailuresInsideWithoutAHost) {
    ASSERT_FALSE(hasHostServices());
    EXPECT_FALSE(Dispatch([] { throw EServerError(QStringLiteral("sem servidor")); }));
}

// Results as the connection hands them over: parsed from the server's response line.
protocol::Response response(const std::string& line) {
    simdjson::dom::parser parser;
    return protocol::parseResponse(line, parser);
}

DataPacket samplePacket() {
    DataPacket p;
    p.fields = {{QStringLiteral("CDFILIAL"), FieldType::String, 4},
                {QStringLiteral("NMDIRPONTO"), FieldType::String, 100},
                {QStringLiteral("VRTOLEAPON"), FieldType::Float, 0},
                {QStringLiteral("DTULTFECHRH"), FieldType::Date, 0}};
    p.rows = {{QStringLiteral("0001"), QStringLiteral("C:\\Folha\\São Paulo\n\"x\""), 0.1,
               QDate(2026, 1, 31)},
              {QStringLiteral("0002"), QVariant(), -0.4, QVariant()},
              {QStringLiteral("0003"), QStringLiteral("Ç"), 1e-7, QDate(2024, 2, 29)},
              {QStringLiteral("0004"), QString(), 1.7976931348623157e308, QVariant()},
              {QStringLiteral("0005"), QString(), 5e-324, QVariant()},
              {QStringLiteral("0006"), QString(), 18446744073709551616.0, QVariant()},
              {QStringLiteral("0007"), QString(), 90.0, QVariant()}};
    return p;
}

TEST(CheckResultServ, ReturnsThePacketOfAPacketResultUnchanged) {
    const DataPacket sent = samplePacket();
    const DataPacket got =
        CheckResultServ(response(protocol::resultJson("3", protocol::packetToJson(sent))), true, 0);
    EXPECT_EQ(got.fields, sent.fields);
    ASSERT_EQ(got.rows.size(), sent.rows.size());
    for (int r = 0; r < sent.rows.size(); ++r) {
        EXPECT_EQ(got.rows[r][0], sent.rows[r][0]);
        EXPECT_EQ(got.rows[r][1].isNull(), sent.rows[r][1].isNull()) << r;
        EXPECT_EQ(got.rows[r][1].toString(), sent.rows[r][1].toString()) << r;
        const double a = got.rows[r][2].toDouble(), b = sent.rows[r][2].toDouble();
        EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << "row " << r << ": " << a << " != " << b;
        EXPECT_EQ(got.rows[r][3], sent.rows[r][3]) << r;
    }
}

TEST(CheckResultServ, AWriteMethodsResultGivesAnEmptyPacket) {
    const DataPacket p = CheckResultServ(response(protocol::resultJson("4", "true")), true, 0);
    EXPECT_TRUE(p.fields.isEmpty());
    EXPECT_TRUE(p.rows.isEmpty());
}

TEST(CheckResultServ, RaisesTheServersSentenceAndCode) {
    const QString sentence =
        QStringLiteral("O registro foi alterado por outro usuário. Leia-o de novo.");
    try {
        CheckResultServ(response(protocol::errorJson("5", protocol::ErrorCode::Conflict, sentence)),
                        true, 0);
        FAIL() << "a refused call returned";
    } catch (const EServerError& e) {
        EXPECT_EQ(e.message(), sentence);
        EXPECT_EQ(e.code(), protocol::ErrorCode::Conflict);
    }
}

TEST(CheckResultServ, RaisesOnAMalformedPacket) {
    const std::pair<const char*, const char*> broken[] = {
        {R"({"fields":[{"name":"CDFILIAL","type":"blob"}],"rows":[]})", "blob"},
        {R"({"fields":[{"name":"CDFILIAL","type":"string","size":4}],"rows":[["00001"]]})",
         "CDFILIAL"},
        {R"({"fields":[{"name":"CDFILIAL","type":"string","size":4}],"rows":[["0001","x"]]})",
         "2 valores"},
        {R"({"fields":[{"name":"CDFILIAL","type":"string","size":4}]})", "linhas"},
    };
    for (const auto& [result, problem] : broken) {
        try {
            CheckResultServ(response(protocol::resultJson("6", result)), true, 0);
            ADD_FAILURE() << "accepted " << result;
        } catch (const EServerError& e) {
            EXPECT_TRUE(e.message().contains(QString::fromUtf8(problem)))
                << e.message().toStdString();
        }
    }
}

} // namespace
