// Time to open the parameters screen in the rh desktop: building the form, connecting and the
// first load (GetFilial, GetGeral), then entering "Questionário" (GetInspecao and its list).
// Runs on the offscreen platform against the embedded service on a temporary SQLite file.
// The baseline connects and makes the same two reads with a plain blocking client (open,
// GetFilial, GetGeral, each reply read into a packet), then builds the same mix of plain Qt
// widgets (taken from the first opened form: same classes, tree, geometry and texts) in a child
// window of the same place and size and shows it. Both clocks stop once the window is on screen:
// its pending events (polish, layout, the paint requests of the shown widgets) have been handled,
// so each side counts painting its whole window once. Rounds alternate the two; prints medians, and
// the live widgets after closing everything.

#include "Desktop.h"
#include "MainWindow.h"
#include "ModuleState.h"
#include "Parametros.h"
#include "contract/Methods.h"
#include "protocol/Rpc.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabBar>
#include <QTableWidget>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QToolButton>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// One widget of the form as plain Qt would build it.
struct Shape {
    enum Kind { Plain, Label, Edit, Combo, Check, Radio, Push, Tool, Group, Spin, Table, Frame };
    Kind kind = Plain;
    QRect geometry;
    QString text;
    QIcon icon;
    bool visible = true;
    std::vector<Shape> children;
};

Shape::Kind kindOf(QWidget* w) {
    if (qobject_cast<QAbstractItemView*>(w)) return Shape::Table;
    if (qobject_cast<QComboBox*>(w)) return Shape::Combo;
    if (qobject_cast<QLineEdit*>(w)) return Shape::Edit;
    if (qobject_cast<QAbstractSpinBox*>(w)) return Shape::Spin;
    if (qobject_cast<QCheckBox*>(w)) return Shape::Check;
    if (qobject_cast<QRadioButton*>(w)) return Shape::Radio;
    if (qobject_cast<QToolButton*>(w)) return Shape::Tool;
    if (qobject_cast<QAbstractButton*>(w)) return Shape::Push;
    if (qobject_cast<QGroupBox*>(w)) return Shape::Group;
    if (qobject_cast<QLabel*>(w)) return Shape::Label;
    if (qobject_cast<QFrame*>(w)) return Shape::Frame;
    return Shape::Plain;
}

Shape describe(QWidget* w) {
    Shape s;
    s.kind = kindOf(w);
    s.geometry = w->geometry();
    s.visible = w->isVisibleTo(w->parentWidget() ? w->parentWidget() : w);
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        s.text = b->text();
        s.icon = b->icon();
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
        s.text = l->text();
    } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
        s.text = g->title();
    }
    // Composite widgets make their own insides; only containers are walked.
    if (s.kind == Shape::Plain || s.kind == Shape::Group || s.kind == Shape::Frame) {
        for (QObject* o : w->children())
            if (auto* child = qobject_cast<QWidget*>(o); child && !child->isWindow())
                s.children.push_back(describe(child));
    }
    return s;
}

QWidget* build(const Shape& s, QWidget* parent) {
    QWidget* w = nullptr;
    switch (s.kind) {
    case Shape::Label:
        w = new QLabel(s.text, parent);
        break;
    case Shape::Edit:
        w = new QLineEdit(parent);
        break;
    case Shape::Combo:
        w = new QComboBox(parent);
        break;
    case Shape::Check:
        w = new QCheckBox(s.text, parent);
        break;
    case Shape::Radio:
        w = new QRadioButton(s.text, parent);
        break;
    case Shape::Push:
        w = new QPushButton(s.icon, s.text, parent);
        break;
    case Shape::Tool: {
        auto* t = new QToolButton(parent);
        t->setText(s.text);
        t->setIcon(s.icon);
        w = t;
        break;
    }
    case Shape::Group:
        w = new QGroupBox(s.text, parent);
        break;
    case Shape::Spin:
        w = new QSpinBox(parent);
        break;
    case Shape::Table:
        w = new QTableWidget(parent);
        break;
    case Shape::Frame:
        w = new QFrame(parent);
        break;
    case Shape::Plain:
        w = new QWidget(parent);
        break;
    }
    w->setGeometry(s.geometry);
    for (const Shape& child : s.children)
        build(child, w);
    if (!s.visible) w->hide();
    return w;
}

// What the event loop does right after a window is shown, before the user sees it.
void settle() {
    QCoreApplication::processEvents();
}

int countWidgets(const Shape& s) {
    int n = 1;
    for (const Shape& c : s.children)
        n += countWidgets(c);
    return n;
}

// What the screen reads before it shows: a connection, its open and the two records, read
// plainly; false when a call fails.
bool connectAndRead(const DesktopServices& services) {
    QTcpSocket socket;
    socket.connectToHost(services.serverHost, quint16(services.serverPort));
    if (!socket.waitForConnected(5000)) return false;
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    simdjson::dom::parser parser;
    protocol::LineReader reader;
    const auto exchange = [&](const std::string& request) -> std::optional<protocol::Response> {
        socket.write(request.data(), qint64(request.size()));
        for (;;) {
            if (auto line = reader.takeLine())
                return protocol::parseResponse(
                    std::string_view(line->constData(), size_t(line->size())), parser);
            if (!socket.waitForReadyRead(5000)) return std::nullopt;
            reader.append(socket.readAll());
        }
    };
    const auto opened = exchange(protocol::openRequestJson(
        1, {QString(contract::ServerObjectName), services.branch, services.token}));
    if (!opened || !opened->ok) return false;
    int id = 1;
    for (const auto& [method, key] : {std::pair{contract::method::GetFilial, services.branch},
                                      std::pair{contract::method::GetGeral, QStringLiteral("1")}}) {
        const auto reply = exchange(protocol::requestJson(++id, method, {key}));
        if (!reply || !reply->ok) return false;
        const protocol::DataPacket packet = protocol::packetFromJson(reply->resultJson);
        if (packet.fields.isEmpty()) return false;
    }
    return true;
}

// Closing a child window only schedules its deletion; outside an event loop it has to be run.
void closeAll(MainWindow& window) {
    window.mdiArea()->closeAllSubWindows();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 30;
    QTemporaryDir dir;
    Desktop desktop;
    QString message;
    if (!desktop.startUnattended(dir.filePath(QStringLiteral("rh.db")), &message)) {
        fprintf(stderr, "%s\n", qPrintable(message));
        return 1;
    }
    MainWindow window(desktop.services);
    if (!window.loadModules(QApplication::applicationDirPath() + QStringLiteral("/../modules"),
                            &message)) {
        fprintf(stderr, "%s\n", qPrintable(message));
        return 1;
    }
    window.show();
    QCoreApplication::processEvents();
    const qsizetype idleWidgets = QApplication::allWidgets().size();

    std::vector<double> open, quest, bare;
    Shape form;
    QRect frameGeometry;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        window.parametersAction()->trigger();
        settle();
        open.push_back(double(t.nsecsElapsed()) / 1e6);
        // The form as it was opened, on its first page.
        if (i == 0) {
            form = describe(Cli_zol00900::frmParametros);
            frameGeometry = window.mdiArea()->activeSubWindow()->geometry();
        }
        t.restart();
        Cli_zol00900::frmParametros->mnuQuestionario->trigger();
        quest.push_back(double(t.nsecsElapsed()) / 1e6);
        closeAll(window);

        t.restart();
        if (!connectAndRead(desktop.services)) {
            fprintf(stderr, "a leitura direta falhou\n");
            return 1;
        }
        auto* top = build(form, nullptr);
        // A child window takes the size of its widget's hint, which a widget without a layout
        // lacks: it would be shown collapsed, with nothing of the form to paint.
        QMdiSubWindow* frame = window.mdiArea()->addSubWindow(top);
        frame->setGeometry(frameGeometry);
        frame->show();
        settle();
        bare.push_back(double(t.nsecsElapsed()) / 1e6);
        closeAll(window);
    }
    const qsizetype leftWidgets = QApplication::allWidgets().size() - idleWidgets;
    printf("screen_first_ms %.1f\nscreen_open_ms %.1f\nscreen_bare_ms %.1f\n"
           "screen_questionario_ms %.1f\nscreen_widgets %d\nscreen_widgets_left %lld\n"
           "screen_errors %lld\n",
           open.front(), median(open), median(bare), median(quest), countWidgets(form),
           static_cast<long long>(leftWidgets),
           static_cast<long long>(desktop.services.shownErrors.size()));
    setHostServices(nullptr);
    return desktop.services.shownErrors.isEmpty() ? 0 : 1;
}
