// Request and response lines, and the framing that splits the byte stream into them.

#include "protocol/Rpc.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

using namespace protocol;
namespace dom = simdjson::dom;

namespace {

// A line as the other side reads it: one JSON document ending in exactly one newline.
dom::element parseLine(dom::parser& parser, const std::string& line) {
    EXPECT_FALSE(line.empty());
    EXPECT_EQ(line.find('\n'), line.size() - 1) << line;
    dom::element e;
    const auto error = parser.parse(line.data(), line.size() - 1).get(e);
    EXPECT_FALSE(error) << simdjson::error_message(error) << ": " << line;
    return e;
}

QString text(dom::element e) {
    std::string_view s;
    EXPECT_FALSE(e.get(s));
    return toQString(s);
}

TEST(Rpc, RequestLinesCarryTextAndDeltaArguments) {
    Delta delta{{{QStringLiteral("CDFILIAL"), FieldType::String, 4},
                 {QStringLiteral("NMDIRPONTO"), FieldType::String, 100}},
                {{DeltaChange::Op::Update,
                  {QStringLiteral("0001"), QStringLiteral("C:\\Ponto")},
                  {QStringLiteral("0001"), QStringLiteral("C:\\Ponto\\São Paulo\n")}}}};
    const std::string line =
        requestJson(7, QStringLiteral("SetFilial"), {QStringLiteral("Férias \"x\""), delta});
    dom::parser parser;
    const dom::element request = parseLine(parser, line);
    EXPECT_EQ(text(request["jsonrpc"]), "2.0");
    EXPECT_EQ(int64_t(request["id"]), 7);
    EXPECT_EQ(text(request["method"]), "SetFilial");
    const dom::array params = request["params"];
    ASSERT_EQ(params.size(), 2u);
    EXPECT_EQ(text(params.at(0)), "Férias \"x\"");
    const Delta back = parseDelta(params.at(1));
    ASSERT_EQ(back.changes.size(), 1);
    EXPECT_EQ(back.changes[0].oldValues, delta.changes[0].oldValues);
    EXPECT_EQ(back.changes[0].newValues, delta.changes[0].newValues);

    const dom::element noArgs =
        parseLine(parser, requestJson(8, QStringLiteral("GetInspecao"), {}));
    EXPECT_EQ(dom::array(noArgs["params"]).size(), 0u);
}

TEST(Rpc, OpenRequestSendsTheTokenOnlyWhenThereIsOne) {
    dom::parser parser;
    const dom::element plain =
        parseLine(parser, openRequestJson(1, {QStringLiteral("Modulo.Objeto"), "0001", {}}));
    EXPECT_EQ(text(plain["method"]), "open");
    EXPECT_EQ(text(plain["params"]["object"]), "Modulo.Objeto");
    EXPECT_EQ(text(plain["params"]["branch"]), "0001");
    EXPECT_EQ(plain["params"]["token"].error(), simdjson::NO_SUCH_FIELD);

    const dom::element withToken = parseLine(parser, openRequestJson(2, {"X", "0002", "segredo"}));
    EXPECT_EQ(text(withToken["params"]["token"]), "segredo");
}

TEST(Rpc, ResultResponsesKeepTheirResult) {
    dom::parser parser;
    const std::string packet = R"({"fields":[{"name":"A","type":"float"}],"rows":[[0.1],[1e-07]]})";
    const Response r = parseResponse(resultJson("12", packet), parser);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.id, 12);
    const DataPacket p = packetFromJson(r.resultJson);
    ASSERT_EQ(p.rows.size(), 2);
    EXPECT_EQ(p.rows[0][0].toDouble(), 0.1);
    EXPECT_EQ(p.rows[1][0].toDouble(), 1e-7);

    const Response t = parseResponse(resultJson("13", "true"), parser);
    EXPECT_TRUE(t.ok);
    EXPECT_EQ(t.resultJson, "true");
}

// A packet result is read with the response; what is wrong with one is kept for the caller,
// and a result that is not a packet carries none.
TEST(Rpc, PacketResultsAreReadWithTheResponse) {
    dom::parser parser;
    const std::string packet =
        R"({"fields":[{"name":"A","type":"string","size":2},{"name":"B","type":"float"}],)"
        R"("rows":[["x",1.5],[null,-2]]})";
    const Response good = parseResponse(resultJson("14", packet), parser);
    ASSERT_TRUE(good.packet);
    EXPECT_TRUE(good.packetProblem.isEmpty());
    const DataPacket read = good.packet->toPacket();
    EXPECT_EQ(read.fields, (QVector<FieldSpec>{{QStringLiteral("A"), FieldType::String, 2},
                                               {QStringLiteral("B"), FieldType::Float, 0}}));
    EXPECT_EQ(read.rows, (QVector<Row>{{QStringLiteral("x"), 1.5}, {QVariant(), -2.0}}));

    const struct {
        const char* result;
        const char* problem; // empty: no packet and no problem
    } others[] = {
        {"true", ""},
        {R"({"server":"rhserver"})", ""},
        {R"([{"fields":[]}])", ""},
        {R"({"fields":[{"name":"A","type":"float"}],"rows":[["1"]]})",
         "a linha 1: o campo A espera um número"},
        {R"({"fields":[{"name":"A","type":"float"}]})", "pacote sem a lista de linhas"},
    };
    for (const auto& o : others) {
        SCOPED_TRACE(o.result);
        const Response r = parseResponse(resultJson("15", o.result), parser);
        EXPECT_TRUE(r.ok);
        EXPECT_TRUE(r.resultRead);
        EXPECT_FALSE(r.packet);
        EXPECT_EQ(r.packetProblem, QString::fromUtf8(o.problem));
    }
}

// The result's text is taken from the line only when the line holds nothing else; any other
// layout of a valid response gives the same result.
TEST(Rpc, TheResultTextIsTheResultWhateverTheLayout) {
    dom::parser parser;
    const struct {
        const char* line;
        const char* result;
    } cases[] = {
        {R"({"jsonrpc":"2.0","id":3,"result":{"a":[1,"}"]}})", R"({"a":[1,"}"]})"},
        {R"({"jsonrpc":"2.0","id":-3,"result": [1, 2] })", "[1, 2]"},
        {R"({"jsonrpc":"2.0","id":3,"result":1,"extra":{"b":2}})", "1"},
        {R"({"jsonrpc":"2.0","id":3,"result":"x","result":"y"})", R"("x")"},
        {R"({"jsonrpc":"2.0","result":[true],"id":3})", "[true]"},
        {R"({"jsonrpc":"2.0","id":"3","result":null})", "null"},
        {R"({"id":3,"jsonrpc":"2.0","result":"a}"})", R"("a}")"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const Response r = parseResponse(c.line, parser);
        ASSERT_TRUE(r.ok);
        dom::parser again;
        dom::element got, expected;
        ASSERT_FALSE(again.parse(r.resultJson).get(got)) << r.resultJson;
        const std::string gotText = simdjson::to_string(got);
        dom::parser third;
        ASSERT_FALSE(third.parse(std::string(c.result)).get(expected));
        EXPECT_EQ(gotText, simdjson::to_string(expected)) << r.resultJson;
    }
}

TEST(Rpc, ErrorResponsesCarryCodeAndSentence) {
    dom::parser parser;
    const QString sentence = QStringLiteral("Convênio médico \"02\" não cadastrado.\nVerifique.");
    const std::string line = errorJson("9", ErrorCode::Refused, sentence);
    parseLine(parser, line);
    const Response r = parseResponse(line, parser);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.id, 9);
    EXPECT_EQ(r.errorCode, ErrorCode::Refused);
    EXPECT_EQ(r.errorMessage, sentence);

    // A request too broken to have an id is answered with a null id.
    const std::string anonymous =
        errorJson({}, ErrorCode::ParseError, QStringLiteral("JSON inválido"));
    const dom::element e = parseLine(parser, anonymous);
    EXPECT_TRUE(e["id"].is_null());
    EXPECT_EQ(parseResponse(anonymous, parser).errorCode, ErrorCode::ParseError);
}

TEST(Rpc, RefusesLinesThatAreNotResponses) {
    dom::parser parser;
    for (const char* line : {"", "nada", "[1]", R"({"jsonrpc":"2.0","id":1})",
                             R"({"id":1,"error":{"code":1}})", R"({"id":1,"error":"falhou"})"})
        EXPECT_THROW(parseResponse(line, parser), ProtocolError) << line;
}

TEST(LineReader, SplitsTheStreamIntoLines) {
    LineReader reader;
    reader.append("abc");
    EXPECT_FALSE(reader.takeLine());
    reader.append("def\nxy");
    EXPECT_EQ(reader.takeLine(), QByteArray("abcdef"));
    EXPECT_FALSE(reader.takeLine());
    EXPECT_EQ(reader.buffered(), 2);
    reader.append("z\r\n");
    EXPECT_EQ(reader.takeLine(), QByteArray("xyz"));
    reader.append("um\ndois\r\n\ntrês\n");
    EXPECT_EQ(reader.takeLine(), QByteArray("um"));
    EXPECT_EQ(reader.takeLine(), QByteArray("dois"));
    EXPECT_EQ(reader.takeLine(), QByteArray(""));
    EXPECT_EQ(reader.takeLine(), QByteArray("três"));
    EXPECT_FALSE(reader.takeLine());
    EXPECT_EQ(reader.buffered(), 0);
}

TEST(LineReader, KeepsEveryLineIntactAcrossManySmallAppends) {
    // Enough traffic to make the reader drop what it has consumed, in chunks that cut lines
    // anywhere.
    QByteArray stream;
    QList<QByteArray> sent;
    for (int i = 0; i < 2000; ++i) {
        sent << QByteArray::number(i).rightJustified(6, '0') + QByteArray(i % 97, 'x');
        stream += sent.last() + '\n';
    }
    LineReader reader(200);
    QList<QByteArray> received;
    for (qsizetype pos = 0; pos < stream.size(); pos += 7) {
        reader.append(stream.mid(pos, 7));
        ASSERT_FALSE(reader.overflowed());
        while (auto line = reader.takeLine())
            received << *line;
    }
    EXPECT_EQ(received, sent);
}

TEST(LineReader, SeesAnOverlongLineBeforeItEnds) {
    LineReader reader(10);
    reader.append("0123456789");
    EXPECT_FALSE(reader.overflowed());
    reader.append("X");
    EXPECT_TRUE(reader.overflowed());

    LineReader exact(10);
    exact.append("0123456789\n");
    EXPECT_FALSE(exact.overflowed());
    EXPECT_EQ(exact.takeLine(), QByteArray("0123456789"));

    LineReader complete(10);
    complete.append("0123456789X\n");
    EXPECT_TRUE(complete.overflowed());

    // A short line first, then a long one still arriving: judged line by line.
    LineReader mixed(10);
    mixed.append("curta\n" + QByteArray(20, 'y'));
    EXPECT_FALSE(mixed.overflowed());
    EXPECT_EQ(mixed.takeLine(), QByteArray("curta"));
    EXPECT_TRUE(mixed.overflowed());
}

} // namespace
