// The screen's position list against plain baselines, on the offscreen platform:
//   bench_lists invert ROUNDS   inverting a 2,000-row position list by a click on the title of its
//                               tick column, against the same calls made by a plain client loop
//                               on a blocking socket; one rhserver (in this process, its own
//                               threads) on one SQLite file serves both. Prints invert_ours_ms and
//                               invert_plain_ms (medians of the rounds; they alternate).
//   bench_lists memory          the desktop (embedded service, as rh runs by default) with no
//                               screen, then with the screen open and a 50,000-row position list
//                               loaded. Prints memory_idle_mb and memory_list_mb (resident) and
//                               the bytes malloc holds at both points.

#include "Desktop.h"
#include "MainWindow.h"
#include "ModuleState.h"
#include "Parametros.h"
#include "contract/Methods.h"

#include "server/RhServer.h"
#include "server/Schema.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <functional>
#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

const QString Questionnaire = QStringLiteral("01001");

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Adds positions to the database until CARGO holds `total` rows; codes start with a letter, so
// they never meet the demo's numeric ones.
bool fillPositions(const QString& path, int total) {
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("f"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery count(db);
            count.exec(QStringLiteral("SELECT COUNT(*) FROM CARGO"));
            const int have = count.next() ? count.value(0).toInt() : 0;
            count.finish();
            const char digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
            db.transaction();
            QSqlQuery insert(db);
            insert.prepare(QStringLiteral("INSERT INTO CARGO (CDCARGO, NMCARGO) VALUES (?, ?)"));
            ok = true;
            for (int i = 0; i < total - have && ok; ++i) {
                QString code(QChar(u'K' + i / (36 * 36 * 36)));
                for (int d = 36 * 36; d >= 1; d /= 36)
                    code += QChar::fromLatin1(digits[(i / d) % 36]);
                insert.bindValue(0, code);
                insert.bindValue(1, QStringLiteral("Cargo de teste %1").arg(i));
                ok = insert.exec();
            }
            ok = ok && db.commit();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("f"));
    return ok;
}

// Opens the screen on its questionnaire page with the questionnaire whose list is of positions;
// opened, if given, is called once the screen shows its first page.
TfrmParametros* openPositionList(MainWindow& window, const std::function<void()>& opened = {}) {
    window.parametersAction()->trigger();
    window.mdiArea()->subWindowList().first()->resize(760, 560);
    QCoreApplication::processEvents();
    if (opened) opened();
    TfrmParametros* form = Cli_zol00900::frmParametros;
    form->mnuQuestionario->trigger();
    const protocol::DataPacket p = form->questionario.cdsInspecao.Data();
    for (int i = 0; i < p.rows.size(); ++i)
        if (p.rows[i][0].toString() == Questionnaire) form->questionario.cdsInspecao.MoveTo(i);
    QCoreApplication::processEvents();
    return form;
}

// One line out, one line back, on a blocking socket: the least a client can do per call.
class PlainClient {
public:
    explicit PlainClient(quint16 port) {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const int one = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) m_fd = -1;
    }
    ~PlainClient() {
        if (m_fd >= 0) ::close(m_fd);
    }
    bool ok() const { return m_fd >= 0; }
    std::string call(const std::string& line) {
        for (size_t sent = 0; sent < line.size();) {
            const ssize_t n = ::send(m_fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return {};
            sent += size_t(n);
        }
        for (;;) {
            const size_t end = m_buffer.find('\n');
            if (end != std::string::npos) {
                std::string reply = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 1);
                return reply;
            }
            char chunk[65536];
            const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, 0);
            if (n <= 0) return {};
            m_buffer.append(chunk, size_t(n));
        }
    }

private:
    int m_fd = -1;
    std::string m_buffer;
};

std::string request(int id, const char* method, const QStringList& args) {
    QVector<protocol::Argument> a;
    for (const QString& s : args)
        a.push_back(s);
    return protocol::requestJson(id, QString::fromLatin1(method), a);
}

// The calls one click on each row makes, in the screen's order, from the list as stored.
bool invertPlainly(PlainClient& client, const QString& branch) {
    int id = 10;
    const std::string list = client.call(request(++id, "GetCargo", {Questionnaire}));
    simdjson::dom::parser parser;
    const protocol::Response r = protocol::parseResponse(list, parser);
    if (!r.ok) return false;
    const protocol::DataPacket p = protocol::packetFromJson(r.resultJson);
    for (const protocol::Row& row : p.rows) {
        const QString position = row[1].toString();
        const bool ticked = row[0].toString() == QLatin1String("S");
        const std::string replies[] = {
            client.call(request(++id, ticked ? "SetDelCarg" : "SetInsCarg",
                                {branch, Questionnaire, position})),
            client.call(request(++id, "SetDelTdDep", {branch, Questionnaire})),
            client.call(request(++id, "SetDelPad", {Questionnaire, branch}))};
        for (const std::string& reply : replies)
            if (reply.find("\"result\"") == std::string::npos) return false;
    }
    return true;
}

int invert(MainWindow& window, Desktop& desktop, quint16 port, int rounds) {
    TfrmParametros* form = openPositionList(window);
    if (form->questionario.cdsCargo.RecordCount() != 2000) {
        fprintf(stderr, "a lista de cargos tem %d linhas\n",
                form->questionario.cdsCargo.RecordCount());
        return 1;
    }
    PlainClient client(port);
    const std::string open = protocol::openRequestJson(
        1, {QString(contract::ServerObjectName), QStringLiteral("0001"), {}});
    if (!client.ok() || client.call(open).find("\"result\"") == std::string::npos) return 1;
    // A click on the title of the tick column, as the user makes it.
    QHeaderView* header = form->questionario.dbgCargo->horizontalHeader();
    const int section = IndiceCol(form->questionario.dbgCargo, QStringLiteral("IDCHECK"));
    const QPoint title(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                       header->height() / 2);
    const int row = form->questionario.cdsInspecao.RecNo();
    std::vector<double> ours, plain;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, title);
        ours.push_back(double(t.nsecsElapsed()) / 1e6);
        t.restart();
        if (!invertPlainly(client, QStringLiteral("0001"))) {
            fprintf(stderr, "a chamada direta falhou\n");
            return 1;
        }
        plain.push_back(double(t.nsecsElapsed()) / 1e6);
        // The screen shows what the plain loop stored before it inverts again.
        form->questionario.cdsInspecao.MoveTo(row == 0 ? 1 : 0);
        form->questionario.cdsInspecao.MoveTo(row);
        QCoreApplication::processEvents();
    }
    printf("invert_ours_ms %.1f\ninvert_plain_ms %.1f\ninvert_errors %lld\n", median(ours),
           median(plain), static_cast<long long>(desktop.services.shownErrors.size()));
    return desktop.services.shownErrors.isEmpty() ? 0 : 1;
}

double residentMb() {
    long pages = 0, resident = 0;
    if (FILE* f = fopen("/proc/self/statm", "r")) {
        if (fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        fclose(f);
    }
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double mallocHeldMb() {
    const struct mallinfo2 m = mallinfo2();
    return double(m.uordblks + m.hblkhd) / (1024.0 * 1024.0);
}

} // namespace

int main(int argc, char** argv) {
    keepMemoryLean(); // as rh does
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const bool memory = argc > 1 && qstrcmp(argv[1], "memory") == 0;
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("rh.db"));
    QString message;
    if (!rhserver::initDatabase(QStringLiteral("sqlite:") + path, true, &message) ||
        !fillPositions(path, memory ? 50000 : 2000)) {
        fprintf(stderr, "banco: %s\n", qPrintable(message));
        return 1;
    }
    Desktop desktop;
    std::unique_ptr<rhserver::RhServer> server;
    if (memory) {
        if (!desktop.startUnattended(path, &message)) {
            fprintf(stderr, "%s\n", qPrintable(message));
            return 1;
        }
    } else {
        // A service of its own, so that the plain loop reaches the very one the screen uses.
        server = std::make_unique<rhserver::RhServer>(
            rhserver::ServerOptions{QStringLiteral("sqlite:") + path, {}});
        if (!server->start(QHostAddress::LocalHost, 0, &message)) {
            fprintf(stderr, "%s\n", qPrintable(message));
            return 1;
        }
        setHostServices(&desktop.services);
        desktop.services.unattended = true;
        DesktopOptions options;
        options.db = QStringLiteral("sqlite:") + path;
        options.server = QStringLiteral("127.0.0.1:%1").arg(server->port());
        if (!desktop.start(options, &message)) {
            fprintf(stderr, "%s\n", qPrintable(message));
            return 1;
        }
    }
    MainWindow window(desktop.services);
    if (!window.loadModules(QApplication::applicationDirPath() + QStringLiteral("/../modules"),
                            &message)) {
        fprintf(stderr, "%s\n", qPrintable(message));
        return 1;
    }
    window.show();
    QCoreApplication::processEvents();
    int status = 0;
    if (memory) {
        const double idle = residentMb(), idleHeld = mallocHeldMb();
        double screen = 0, screenHeld = 0;
        TfrmParametros* form = openPositionList(window, [&] {
            screen = residentMb();
            screenHeld = mallocHeldMb();
        });
        const int rows = form->questionario.cdsCargo.RecordCount();
        QCoreApplication::processEvents();
        printf("memory_idle_mb %.1f\nmemory_list_mb %.1f\nmemory_idle_malloc_mb %.1f\n"
               "memory_list_malloc_mb %.1f\nmemory_screen_mb %.1f\n"
               "memory_screen_malloc_mb %.1f\nmemory_list_rows %d\n",
               idle, residentMb(), idleHeld, mallocHeldMb(), screen, screenHeld, rows);
        status = rows == 50000 && desktop.services.shownErrors.isEmpty() ? 0 : 1;
    } else {
        status = invert(window, desktop, server->port(), rounds);
    }
    window.mdiArea()->closeAllSubWindows();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    setHostServices(nullptr);
    return status;
}
