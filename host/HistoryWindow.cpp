#include "HistoryWindow.h"

#include "Accessibility.h"
#include "DesktopServices.h"
#include "Dispatch.h"
#include "Exceptions.h"
#include "HistoryExport.h"
#include "HistoryUndo.h"
#include "Splitter.h"

#include "contract/Layouts.h"
#include "contract/Lookups.h"
#include "contract/Methods.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QTreeWidget>
#include <QVBoxLayout>

HistoryWindow::HistoryWindow(DesktopServices& services, QWidget* parent)
    : QWidget(parent)
    , m_services(services) {
    setObjectName(QStringLiteral("frmHistorico"));
    setWindowTitle(QStringLiteral("Histórico de alterações"));
    m_connection.ServerName = QString(contract::ServerObjectName);
    m_connection.BeforeConnect = [this](TNetConnection& c) {
        c.Host = m_services.WebURL();
        c.Port = m_services.WebPort();
    };
    auto* layout = new QVBoxLayout(this);
    createFilters();
    createList();
    layout->addLayout(m_filters);
    m_stale = new QLabel(
        QStringLiteral("A lista mostra o filtro anterior: clique em Atualizar para ver o novo."),
        this);
    m_stale->setObjectName(QStringLiteral("lblFiltroAlterado"));
    m_stale->hide();
    layout->addWidget(m_stale);
    // The list above, the chosen row's whole change below it, in a share the user can move.
    auto* split = new TSplitter(Qt::Vertical, QStringLiteral("splHistorico"));
    split->addWidget(m_list);
    split->addWidget(m_details);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    split->setChildrenCollapsible(false);
    layout->addWidget(split, 1);
    // A changed filter marks the list as not of it until it is read again.
    const auto filterChanged = [this] { showListIsOfTheFilter(false); };
    connect(m_branch, &QComboBox::currentIndexChanged, this, filterChanged);
    connect(m_period, &QCheckBox::toggled, this, filterChanged);
    connect(m_from, &QDateEdit::dateChanged, this, filterChanged);
    connect(m_to, &QDateEdit::dateChanged, this, filterChanged);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_undo);
    bottom->addWidget(m_export);
    bottom->addStretch(1);
    bottom->addWidget(m_older);
    layout->addLayout(bottom);
    resize(900, 480);
    NameControlsForScreenReaders(this);
}

void HistoryWindow::createFilters() {
    auto* row = m_filters = new QHBoxLayout;
    auto* branchLabel = new QLabel(QStringLiteral("&Filial:"), this);
    m_branch = new QComboBox(this);
    m_branch->setObjectName(QStringLiteral("cbxFilial"));
    m_branch->addItem(QStringLiteral("Todas"), QString());
    for (const protocol::Row& row : readRows(contract::namesLookup(contract::branches).name))
        m_branch->addItem(
            QStringLiteral("%1 - %2").arg(row.value(0).toString(), row.value(1).toString()),
            row.value(0).toString());
    branchLabel->setBuddy(m_branch);
    m_period = new QCheckBox(QStringLiteral("&Período de"), this);
    m_period->setObjectName(QStringLiteral("chkPeriodo"));
    m_from = new QDateEdit(QDate::currentDate().addMonths(-1), this);
    m_from->setObjectName(QStringLiteral("dteInicio"));
    m_to = new QDateEdit(QDate::currentDate(), this);
    m_to->setObjectName(QStringLiteral("dteFim"));
    for (QDateEdit* e : {m_from, m_to}) {
        e->setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
        e->setCalendarPopup(true);
        e->setEnabled(false);
    }
    connect(m_period, &QCheckBox::toggled, this, [this](bool on) {
        m_from->setEnabled(on);
        m_to->setEnabled(on);
    });
    m_refresh = new QPushButton(QStringLiteral("&Atualizar"), this);
    m_refresh->setObjectName(QStringLiteral("btnAtualizar"));
    m_refresh->setDefault(true);
    connect(m_refresh, &QPushButton::clicked, this, [this] { Dispatch([this] { refresh(); }); });
    m_older = new QPushButton(QStringLiteral("&Mais antigas"), this);
    m_older->setObjectName(QStringLiteral("btnMaisAntigas"));
    m_older->setEnabled(false);
    connect(m_older, &QPushButton::clicked, this, [this] { Dispatch([this] { loadOlder(); }); });
    m_export = new QPushButton(QStringLiteral("&Exportar…"), this);
    m_export->setObjectName(QStringLiteral("btnExportar"));
    m_export->setEnabled(false);
    connect(m_export, &QPushButton::clicked, this, [this] { Dispatch([this] { exportRows(); }); });
    m_undo = new QPushButton(QStringLiteral("De&sfazer esta alteração"), this);
    m_undo->setObjectName(QStringLiteral("btnDesfazer"));
    m_undo->setEnabled(false);
    connect(m_undo, &QPushButton::clicked, this, [this] { Dispatch([this] { undoSelected(); }); });
    row->addWidget(branchLabel);
    row->addWidget(m_branch, 1);
    row->addSpacing(12);
    row->addWidget(m_period);
    row->addWidget(m_from);
    row->addWidget(new QLabel(QStringLiteral("a"), this));
    row->addWidget(m_to);
    row->addSpacing(12);
    row->addWidget(m_refresh);
}

void HistoryWindow::createList() {
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("grdHistorico"));
    m_list->setRootIsDecorated(false);
    m_list->setAlternatingRowColors(true);
    m_list->setWordWrap(true);
    m_list->setHeaderLabels({QStringLiteral("Quando"), QStringLiteral("Quem"),
                             QStringLiteral("Operação"), QStringLiteral("Registro"),
                             QStringLiteral("Alterações")});
    m_list->header()->setStretchLastSection(true);
    m_list->header()->setMinimumSectionSize(fontMetrics().horizontalAdvance(u'M') * 4);
    m_list->setTextElideMode(Qt::ElideMiddle); // a folder path keeps its start and its end
    fitColumns(true);
    m_details = new QPlainTextEdit(this);
    m_details->setObjectName(QStringLiteral("txtDetalhes"));
    m_details->setReadOnly(true);
    m_details->setPlaceholderText(
        QStringLiteral("Escolha uma linha para ver a alteração inteira."));
    m_details->setAccessibleName(QStringLiteral("Detalhes da alteração"));
    m_list->setAccessibleName(QStringLiteral("Alterações registradas"));
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, [this] {
        updateUndo();
        showDetails();
    });
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (!m_list->itemAt(at)) return;
        QMenu menu(this);
        QAction* undo = menu.addAction(m_undo->text());
        undo->setObjectName(QStringLiteral("mniDesfazer"));
        undo->setEnabled(m_undo->isEnabled());
        connect(undo, &QAction::triggered, this, [this] { Dispatch([this] { undoSelected(); }); });
        menu.exec(m_list->viewport()->mapToGlobal(at));
    });
}

void HistoryWindow::fitColumns(bool measure) {
    // Each column as wide as its texts (who and which record up to a share of the list, their
    // tips hold the rest); "Alterações" takes what is left. Texts are measured when rows come,
    // not at every step of a resize.
    for (int c = 0; c < 4 && measure; ++c) {
        m_list->resizeColumnToContents(c);
        m_textWidths[c] = m_list->columnWidth(c);
    }
    const int share = std::max(m_list->viewport()->width() / 5, 80);
    for (int c = 0; c < 4; ++c)
        m_list->setColumnWidth(c, (c == 1 || c == 3) ? std::min(m_textWidths[c], share)
                                                     : m_textWidths[c]);
}

void HistoryWindow::showDetails() {
    const QList<QTreeWidgetItem*> chosen = m_list->selectedItems();
    if (chosen.size() != 1) {
        m_details->clear();
        return;
    }
    const QTreeWidgetItem* item = chosen.first();
    QStringList lines;
    for (int c = 0; c < 4; ++c)
        lines << QStringLiteral("%1: %2").arg(m_list->headerItem()->text(c), item->text(c));
    lines << QString() << m_list->headerItem()->text(4) + u':' << item->text(4);
    m_details->setPlainText(lines.join(u'\n'));
}

void HistoryWindow::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    fitColumns(false);
}

const HistoryEntry* HistoryWindow::selectedEntry() const {
    // The row the user chose, not the one the list made current by itself.
    const QList<QTreeWidgetItem*> chosen = m_list->selectedItems();
    const int row = chosen.size() == 1 ? m_list->indexOfTopLevelItem(chosen.first()) : -1;
    return row >= 0 && row < m_shown.size() ? &m_shown[row] : nullptr;
}

void HistoryWindow::updateUndo() {
    const HistoryEntry* entry = selectedEntry();
    const bool may = !m_connection.ReadOnly();
    m_undo->setEnabled(may && entry && undoOf(*entry, {}));
    m_undo->setToolTip(may ? QString()
                           : QStringLiteral("A chave de acesso em uso só permite consultar."));
}

NameOf HistoryWindow::names() {
    return
        [this](const contract::NameList& list, const QString& code) { return nameOf(list, code); };
}

QVector<protocol::Row> HistoryWindow::readRows(const QString& lookup) {
    // Names help the reading; a list the service cannot give now leaves the codes alone.
    try {
        return m_services.lookupRows(lookup, {}).rows;
    } catch (const Exception&) {
        return {};
    }
}

QString HistoryWindow::nameOf(const contract::NameList& list, const QString& code) {
    auto names = m_names.find(&list);
    if (names == m_names.end()) {
        names = m_names.insert(&list, {});
        for (const protocol::Row& row : readRows(contract::namesLookup(list).name))
            names->insert(row.value(0).toString(), row.value(1).toString());
    }
    return names->value(code);
}

void HistoryWindow::showListIsOfTheFilter(bool current) {
    m_stale->setVisible(!current);
    m_list->setEnabled(current);
}

void HistoryWindow::refresh() {
    load(0);
}

void HistoryWindow::loadOlder() {
    if (m_oldest > 0) load(m_oldest);
}

void HistoryWindow::load(qint64 before) {
    QString from, to;
    if (m_period->isChecked()) {
        if (m_to->date() < m_from->date()) {
            m_services.showError(QStringLiteral("O fim do período é anterior ao início."));
            return;
        }
        // The user's days, in the service's UTC instants: from midnight to the next midnight.
        from = QDateTime(m_from->date(), QTime(0, 0)).toUTC().toString(Qt::ISODateWithMs);
        to = QDateTime(m_to->date().addDays(1), QTime(0, 0)).toUTC().toString(Qt::ISODateWithMs);
    }
    if (!m_connection.Connected()) m_connection.SetConnected(true);
    const protocol::Response r = m_connection.AppServer().call(
        contract::method::GetHistorico, {m_branch->currentData().toString(), from, to,
                                         before > 0 ? QString::number(before) : QString()});
    if (!r.ok) throw EServerError(r.errorMessage, r.errorCode);
    const protocol::DataPacket packet = protocol::resultPacket(r);
    if (before == 0) m_names.clear(); // names read again: one may have been renamed
    const QVector<HistoryEntry> entries = decodeHistory(packet, names());
    // Only now: a refused filter or a failed call leaves the list as it was.
    if (before == 0) {
        m_list->clear();
        m_shown.clear();
        showListIsOfTheFilter(true);
    }
    m_shown += entries;
    m_export->setEnabled(!m_shown.isEmpty());
    for (const HistoryEntry& e : entries) {
        auto* item = new QTreeWidgetItem(m_list);
        item->setText(0, e.when.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")));
        item->setText(1, e.who);
        item->setText(2, e.refused ? e.action + QStringLiteral(" (recusado)") : e.action);
        item->setToolTip(2, e.method);
        item->setText(3, e.record);
        item->setText(4, e.changes.join(u'\n'));
        // A cell too narrow for its text shows it whole in its tip.
        for (int c : {0, 1, 3, 4})
            item->setToolTip(c, item->text(c));
        item->setData(0, Qt::UserRole, e.number);
        m_oldest = e.number;
    }
    fitColumns(true);
    // A full page means older rows may follow.
    m_older->setEnabled(entries.size() >= contract::HistoryPageRows);
    updateUndo();
}

void HistoryWindow::undoSelected() {
    const HistoryEntry* entry = selectedEntry();
    if (!entry || m_connection.ReadOnly()) return;
    const std::optional<HistoryUndo> undo = undoOf(*entry, names());
    if (!undo) return;
    if (const QString why = tieModeConflict(*undo); !why.isEmpty()) {
        m_services.showError(why);
        return;
    }
    const QString question =
        QStringLiteral("Desfazer esta alteração de %1, de %2?\n\n%3\n%4\n\nSerá gravado:\n%5")
            .arg(entry->who, entry->when.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")),
                 undo->written.action, undo->written.record, undo->written.changes.join(u'\n'));
    if (m_services.ask(question, MsgDlgType::Confirmation, {ModalResult::Yes, ModalResult::No}) !=
        ModalResult::Yes)
        return;
    const protocol::Response r = m_connection.AppServer().call(undo->method, undo->args);
    // A record changed again since: the service's conflict says so, and nothing was written.
    if (!r.ok) throw EServerError(r.errorMessage, r.errorCode);
    m_services.showStatus(QStringLiteral("Alteração desfeita."));
    refresh();
}

namespace {
// The host's code picture of questionnaire codes: the screen lists those of its last level.
constexpr int QuestionnairePicture = 12;
} // namespace

QString HistoryWindow::tieModeConflict(const HistoryUndo& undo) {
    const contract::Method* method = contract::findMethod(undo.method.toStdString());
    using Table = contract::Tie::Table;
    if (!method || !method->tie.insert || method->tie.table == Table::None) return {};
    const auto text = [&](int at) {
        const auto* given =
            at >= 0 && at < undo.args.size() ? std::get_if<QString>(&undo.args[at]) : nullptr;
        return given ? *given : QString();
    };
    const QString branch = text(method->tie.branchArg);
    const QString code = text(method->tie.inspecaoArg);
    // The questionnaire's modes as that branch's sessions see them now.
    TNetConnection reader;
    reader.ServerName = QString(contract::ServerObjectName);
    reader.Host = m_services.WebURL();
    reader.Port = m_services.WebPort();
    reader.Branch = branch;
    reader.SetConnected(true);
    const protocol::Response r = reader.AppServer().call(
        contract::method::GetInspecao,
        {QString::number(m_services.codePictureLevels(QuestionnairePicture) - 1)});
    if (!r.ok) throw EServerError(r.errorMessage, r.errorCode);
    const protocol::DataPacket packet = protocol::resultPacket(r);
    const int codeAt = packet.indexOf(QStringLiteral("CDINSPECAO"));
    for (const protocol::Row& row : packet.rows) {
        if (codeAt < 0 || row.value(codeAt).toString() != code) continue;
        const auto has = [&](const char* flag) {
            const int at = packet.indexOf(QString::fromLatin1(flag));
            return at >= 0 && row.value(at).toString() == u"S";
        };
        const QString other =
            method->tie.table != Table::Cargo && has("IDCARG") ? QStringLiteral("por cargo")
            : method->tie.table != Table::Depto && has("IDDEPT")
                ? QStringLiteral("por departamento")
            : method->tie.table != Table::Padrao && has("IDPADR") ? QStringLiteral("padrão")
                                                                  : QString();
        if (other.isEmpty()) return {};
        return QStringLiteral(
                   "Esta alteração não pode ser desfeita: o questionário %1 vale agora %2 na "
                   "filial %3, e um questionário vale de um só modo (por cargo, por "
                   "departamento ou padrão). Mude-o na página Questionário dos Parâmetros "
                   "Gerais.")
            .arg(code, other, branch);
    }
    return {};
}

void HistoryWindow::exportRows() {
    const QString path = m_services.selectSaveFile(
        QStringLiteral("Exportar o histórico"),
        QStringLiteral("historico-%1.csv").arg(QDate::currentDate().toString(Qt::ISODate)));
    if (path.isEmpty()) return;
    // Written whole or not at all: a failed export leaves no half file behind.
    QSaveFile file(path);
    // The history holds what the database holds: its owner's alone, as the database is.
    if (!file.open(QIODevice::WriteOnly) ||
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(historyCsv(m_shown)) < 0 || !file.commit()) {
        m_services.showError(QStringLiteral("Não foi possível gravar o arquivo %1: %2.")
                                 .arg(path, file.errorString()));
        return;
    }
    m_services.showStatus(QStringLiteral("%1 linha(s) do histórico exportada(s) para %2.")
                              .arg(m_shown.size())
                              .arg(path));
}
