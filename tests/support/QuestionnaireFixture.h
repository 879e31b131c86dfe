#pragma once
// What the questionnaire GUI tests add to the screen's fixture: the stored ties read back through
// the service, the calls it received (from its audit rows, in order), failures made on purpose,
// and clicks on grid cells and titles.

#include "Consiste.h"
#include "ParametrosFixture.h"

#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QProgressDialog>

namespace {

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

const QString S = QStringLiteral("S"), N = QStringLiteral("N");

} // namespace

class QuestionnaireFixture : public ParametrosFixture {
protected:
    int m_callMark = 0;

    // Runs statements on the stored data behind the service's back, as another program would.
    void sql(const QStringList& statements) {
        for (const QString& statement : statements)
            execSql(statement);
    }

    void markCalls() { m_callMark = int(m_relay->seen().size()); }
    // The write calls the service received since the mark, as "method argument argument …".
    QStringList calls() {
        QStringList out;
        const QList<QByteArray> lines = m_relay->seen();
        for (qsizetype i = m_callMark; i < lines.size(); ++i) {
            const QJsonObject request = QJsonDocument::fromJson(lines[i]).object();
            const QString method = request.value(QStringLiteral("method")).toString();
            if (!method.startsWith(QStringLiteral("Set"))) continue;
            QStringList words{method};
            for (const QJsonValue& v : request.value(QStringLiteral("params")).toArray())
                words << v.toString();
            out << words.join(u' ');
        }
        return out;
    }
    // Makes every call of the method whose arguments include the code fail on the service.
    // Calls of the method naming the code fail before they reach the service.
    void failCalls(const QString& method, const QString& code) {
        m_relay->refuse(method.toUtf8(), code.toUtf8());
    }

    protocol::DataPacket fetch(const QString& method, const QString& arg) {
        return CheckResultServ(form()->netParamZOL.AppServer().call(method, {arg}), true, 0);
    }
    // Codes ticked for the questionnaire as the service holds them.
    QStringList storedTicks(const QString& method, const QString& questionnaire) {
        return ticked(fetch(method, questionnaire));
    }
    static QStringList ticked(const protocol::DataPacket& p) {
        QStringList out;
        for (const protocol::Row& row : p.rows)
            if (row[p.indexOf(QStringLiteral("IDCHECK"))].toString() == S) out << row[1].toString();
        return out;
    }
    QString storedFlags(const QString& questionnaire) {
        const protocol::DataPacket p = fetch(QStringLiteral("GetInspecao"), QStringLiteral("1"));
        for (const protocol::Row& row : p.rows)
            if (row[0].toString() == questionnaire)
                return row[2].toString() + row[3].toString() + row[4].toString();
        return {};
    }
    // The current questionnaire's three ticks as the screen holds them.
    QString shownFlags() const {
        QString out;
        for (const char* f : {"IDCARG", "IDDEPT", "IDPADR"})
            out += form()->questionario.cdsInspecao.FieldByName(QString::fromLatin1(f)).AsString();
        return out;
    }

    TfrmParametros* openQuestionnaires() {
        m_window->parametersAction()->trigger();
        m_window->mdiArea()->subWindowList().first()->resize(760, 560);
        form()->mnuQuestionario->trigger();
        markCalls();
        return form();
    }
    static int rowOf(const TClientDataSet& set, const QString& code) {
        const protocol::DataPacket p = set.Data();
        for (int i = 0; i < p.rows.size(); ++i)
            if (p.rows[i].contains(QVariant(code))) return i;
        return -1;
    }
    static QModelIndex cell(TDBGrid* g, int row, const QString& field) {
        return g->model()->index(row, IndiceCol(g, field));
    }
    void clickCell(TDBGrid* g, int row, const QString& field) {
        const QModelIndex i = cell(g, row, field);
        QVERIFY(i.isValid());
        g->scrollTo(i);
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, g->visualRect(i).center());
    }
    void clickTitle(TDBGrid* g, const QString& field) {
        QHeaderView* h = g->horizontalHeader();
        const int s = IndiceCol(g, field);
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                          {h->sectionViewportPosition(s) + h->sectionSize(s) / 2, h->height() / 2});
    }
    void goTo(const QString& questionnaire) {
        TfrmParametros* f = form();
        clickCell(f->questionario.dbgQuestCand, rowOf(f->questionario.cdsInspecao, questionnaire),
                  QStringLiteral("CDINSPECAO"));
        QCOMPARE(f->questionario.cdsInspecao.FieldByName(QStringLiteral("CDINSPECAO")).AsString(),
                 questionnaire);
    }
    void focus(QWidget* w) {
        w->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), w);
    }
    TDBGrid* list(const QString& kind) const {
        return kind == u"cargo" ? form()->questionario.dbgCargo : form()->questionario.dbgDepto;
    }
    TClientDataSet& listSet(const QString& kind) const {
        return kind == u"cargo" ? form()->questionario.cdsCargo : form()->questionario.cdsDepto;
    }
    static QString tickMethod(const QString& kind) {
        return kind == u"cargo" ? QStringLiteral("GetCargo") : QStringLiteral("GetDepto");
    }
    static QString openQuestionnaire(const QString& kind) {
        return kind == u"cargo" ? QStringLiteral("01001") : QStringLiteral("01002");
    }

    void stop() {
        if (form()) QCOMPARE(services().busyDepth(), 0);
        stopDesktop();
    }

    static QString cellProblem(const QImage& image, const QRect& r, char kind, const QColor& bg) {
        const QPoint origin(r.left() + 1, r.top());
        const QColor olive(128, 128, 0), grey(192, 192, 192), white(Qt::white), black(Qt::black);
        int markPixels = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x) {
                const QColor c = image.pixelColor(x, y);
                const QPoint at(x - origin.x(), y - origin.y());
                const QString where = QStringLiteral("(%1,%2) ").arg(at.x()).arg(at.y());
                if (c == olive) return where + QStringLiteral("olive shows");
                const bool inPicture = at.x() >= 0 && at.x() < 16 && at.y() < 16;
                if (kind == '-' || !inPicture || at.x() == 0 || at.y() == 0) {
                    if (c != bg) return where + QStringLiteral("is not the background ") + c.name();
                    continue;
                }
                if (at.x() < 3 || at.x() > 11 || at.y() < 3 || at.y() > 11) continue;
                if (kind == 'S' && c == black)
                    ++markPixels;
                else if (c != (kind == 'E' ? grey : white))
                    return where + QStringLiteral("inside the box is ") + c.name();
            }
        if (kind == 'S' && markPixels < 6) return QStringLiteral("no check mark");
        return {};
    }
};
