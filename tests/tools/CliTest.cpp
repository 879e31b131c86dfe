// Every program's command line as scripts and users meet it: help and version succeed, and a
// bad option, an unreachable server or a database that cannot be opened end the program with
// one line on stderr and a non-zero status, promptly.

#include "ServerHarness.h"

#include "CallLine.h"
#include "server/CommandLine.h"

#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

using namespace testing_rh;

namespace {

enum class Outcome { Succeeds, FailsWithOneLine };

struct CliCase {
    const char* program;
    QStringList args;
    Outcome outcome;
    const char* says; // on stdout when it succeeds, on stderr when it fails
};

QString programPath(const char* name) {
    const QString n = QString::fromLatin1(name);
    if (n == QLatin1String("rh")) return QStringLiteral(RH_PATH);
    if (n == QLatin1String("rhserver")) return QStringLiteral(RHSERVER_PATH);
    if (n == QLatin1String("rhcall")) return QStringLiteral(RHCALL_PATH);
    return QStringLiteral(RHSCREENS_PATH);
}

// A port on loopback where nothing listens: bound and closed again.
quint16 closedPort() {
    ensureApplication();
    QTcpServer probe;
    EXPECT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

void PrintTo(const CliCase& c, std::ostream* os) {
    *os << c.program << ' ' << c.args.join(u' ').toStdString();
}

class Cli : public ::testing::TestWithParam<CliCase> {};

TEST_P(Cli, AnswersOrFailsWithOneLine) {
    const CliCase& c = GetParam();
    // Stand-ins in the table, made here: a QCoreApplication exists only once tests run.
    QStringList args = c.args;
    QTemporaryDir scratch;
    for (QString& a : args) {
        a.replace(QLatin1String("{new-file}"), scratch.filePath(QStringLiteral("copia.db")));
        a.replace(QLatin1String("{nowhere}"), QStringLiteral("127.0.0.1:%1").arg(closedPort()));
        a.replace(QLatin1String("{dead-postgres}"),
                  QStringLiteral("postgresql://rh@127.0.0.1:%1/rh").arg(closedPort()));
    }
    QProcess p;
    // A desktop session has a runtime folder; without one Qt warns on stderr before we speak.
    QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    p.setProcessEnvironment(env);
    p.start(programPath(c.program), args);
    ASSERT_TRUE(p.waitForStarted());
    // Generous bound: the programs' own connect timeouts are a few seconds.
    ASSERT_TRUE(p.waitForFinished(60000)) << "did not end";
    ASSERT_EQ(p.exitStatus(), QProcess::NormalExit) << "crashed";
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    const QString err = QString::fromUtf8(p.readAllStandardError());
    if (c.outcome == Outcome::Succeeds) {
        EXPECT_EQ(p.exitCode(), 0) << err.toStdString();
        EXPECT_TRUE(out.contains(QString::fromUtf8(c.says))) << out.toStdString();
        return;
    }
    EXPECT_NE(p.exitCode(), 0);
    EXPECT_TRUE(out.isEmpty()) << out.toStdString();
    ASSERT_TRUE(err.endsWith(u'\n')) << err.toStdString();
    EXPECT_EQ(err.count(u'\n'), 1) << err.toStdString();
    EXPECT_TRUE(err.startsWith(QString::fromLatin1(c.program) + QStringLiteral(": ")))
        << err.toStdString();
    EXPECT_TRUE(err.contains(QString::fromUtf8(c.says))) << err.toStdString();
}

const char* const nowhere = "{nowhere}";
const char* const missingDb = "sqlite:/nonexistent-folder/rh.db";
const char* const deadPostgres = "{dead-postgres}";

using O = Outcome;
INSTANTIATE_TEST_SUITE_P(
    Programs, Cli,
    ::testing::Values(
        CliCase{"rh", {"--help"}, O::Succeeds, "Uso: rh"},
        CliCase{"rh", {"--version"}, O::Succeeds, "rh " RH_VERSION},
        CliCase{"rh", {"--sem-isso"}, O::FailsWithOneLine, "rh --ajuda"},
        CliCase{"rh", {"--server", nowhere, "--db", missingDb}, O::FailsWithOneLine, "conectar"},
        CliCase{"rh", {"--db", missingDb}, O::FailsWithOneLine, "banco de dados"},
        CliCase{"rhserver", {"--help"}, O::Succeeds, "Uso: rhserver"},
        CliCase{"rhserver", {"--version"}, O::Succeeds, "rhserver 0."},
        CliCase{"rhserver", {"--sem-isso"}, O::FailsWithOneLine, "rhserver --help"},
        CliCase{"rhserver", {}, O::FailsWithOneLine, "--db"},
        CliCase{"rhserver",
                {"--listen", "127.0.0.1:0", "--db", missingDb},
                O::FailsWithOneLine,
                "rhserver --init"},
        CliCase{"rhserver",
                {"--listen", "127.0.0.1:0", "--db", deadPostgres},
                O::FailsWithOneLine,
                "Não foi possível abrir o banco de dados"},
        CliCase{"rhserver",
                {"--db", missingDb, "--backup", "{new-file}"},
                O::FailsWithOneLine,
                "rhserver --init"},
        CliCase{"rhserver",
                {"--db", deadPostgres, "--backup", "{new-file}"},
                O::FailsWithOneLine,
                "pg_dump"},
        CliCase{"rhcall", {"--help"}, O::Succeeds, "Uso: rhcall"},
        CliCase{"rhcall", {"--version"}, O::Succeeds, "rhcall " RH_VERSION},
        CliCase{"rhcall", {"--sem-isso", "ping"}, O::FailsWithOneLine, "rhcall --help"},
        CliCase{"rhcall",
                {"--server", nowhere, "GetGeral", "1"},
                O::FailsWithOneLine,
                "rhserver está no ar"},
        CliCase{"rhscreens", {"--help"}, O::Succeeds, "Uso: rhscreens"},
        CliCase{"rhscreens", {"--version"}, O::Succeeds, "rhscreens " RH_VERSION},
        CliCase{"rhscreens", {"--sem-isso"}, O::FailsWithOneLine, "rhscreens --help"}),
    [](const ::testing::TestParamInfo<CliCase>& info) {
        return std::string(info.param.program) + "_" + std::to_string(info.index);
    });

// What rhserver makes of its arguments before it opens anything: the options it serves with, or
// the one line that says what is wrong.
TEST(ServerCommandLine, ReadsWhatItServesAndRefusesTheRestWithOneLine) {
    using rhserver::CommandLine;
    struct Case {
        QStringList args;
        const char* error; // null: accepted
        std::function<bool(const CommandLine&)> holds = {};
    };
    const Case cases[] = {
        {{"--db", "sqlite:x"},
         nullptr,
         [](const CommandLine& l) {
             return l.port == 7400 && l.address.isLoopback() && !l.listenGiven &&
                    l.options.sqliteFullSync && l.options.db == QLatin1String("sqlite:x");
         }},
        {{"--db=sqlite:x", "--workers", "3", "--listen", "0.0.0.0:9000", "--sqlite-sync", "normal",
          "--idle-timeout", "60"},
         nullptr,
         [](const CommandLine& l) {
             return l.options.workers == 3 && l.port == 9000 && l.listenGiven &&
                    !l.options.sqliteFullSync && l.options.idleTimeoutSeconds == 60;
         }},
        {{"--help", "--sem-isso-nao"}, "opção desconhecida: --sem-isso-nao"},
        {{"--help"}, nullptr, [](const CommandLine& l) { return l.help; }},
        {{}, "informe o banco de dados com --db"},
        {{"--db"}, "--db precisa do endereço do banco."},
        {{"--db", "x", "--workers"}, "--workers precisa de um número entre 1 e 64."},
        {{"--db", "x", "--workers", "0"}, "--workers precisa de um número entre 1 e 64."},
        {{"--db", "x", "--max-message", "10"}, "mínimo 64"},
        {{"--db", "x", "--listen", "localhost:80"}, "--listen espera HOST:PORTA"},
        {{"--db", "x", "--listen", "127.0.0.1:70000"}, "--listen espera HOST:PORTA"},
        {{"--db", "x", "--demo"}, "--demo só vale junto com --init."},
        {{"--db", "x", "--backup", "b", "--init"}, "--backup não se combina"},
        {{"--db", "x", "--sqlite-sync", "sempre"}, "full ou normal"},
        {{"--db", "x", "sobrando"}, "opção desconhecida: sobrando"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        CommandLine line;
        QString error;
        const bool accepted = rhserver::parseCommandLine(
            QStringList{QStringLiteral("rhserver")} + c.args, &line, &error);
        EXPECT_EQ(accepted, c.error == nullptr) << error.toStdString();
        if (c.error) {
            EXPECT_TRUE(error.contains(QString::fromUtf8(c.error))) << error.toStdString();
        } else if (accepted && c.holds) {
            EXPECT_TRUE(c.holds(line));
        }
    }
}

// rhcall: options first, then the method; what follows the method is its arguments, dashes and
// all.
TEST(CallCommandLine, OptionsThenTheMethodAndItsArguments) {
    struct Case {
        QStringList args;
        const char* error; // null: accepted
        std::function<bool(const CallLine&)> holds = {};
    };
    const Case cases[] = {
        {{"ping"},
         nullptr,
         [](const CallLine& l) {
             return l.isHealthCheck() && l.port == 7400 && l.branch == QLatin1String("0001");
         }},
        {{"--server", "10.0.0.2:7500", "--branch", "0002", "GetCargo", "--01002"},
         nullptr,
         [](const CallLine& l) {
             return l.host == QLatin1String("10.0.0.2") && l.port == 7500 &&
                    l.arguments == QStringList{QStringLiteral("--01002")} && !l.isHealthCheck();
         }},
        {{"--version"}, nullptr, [](const CallLine& l) { return l.version; }},
        {{}, "informe o método"},
        {{"--server", "sem-porta", "ping"}, "--server espera HOST:PORTA"},
        {{"--outra", "ping"}, "opção desconhecida: --outra"},
        {{"--branch"}, "precisa de um valor"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        CallLine line;
        QString error;
        const bool accepted =
            parseCallLine(QStringList{QStringLiteral("rhcall")} + c.args, &line, &error);
        EXPECT_EQ(accepted, c.error == nullptr) << error.toStdString();
        if (c.error) {
            EXPECT_TRUE(error.contains(QString::fromUtf8(c.error))) << error.toStdString();
        } else if (accepted && c.holds) {
            EXPECT_TRUE(c.holds(line));
        }
    }
}

} // namespace
