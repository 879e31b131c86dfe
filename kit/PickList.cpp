#include "PickList.h"

#include "WindowHints.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

TPickList::TPickList(const TClientDataSet& rows, const QStringList& visibleFields,
                     const QString& title, QWidget* parent)
    : QDialog(parent)
    , m_filter(new QLineEdit(this))
    , m_table(new QTableView(this))
    , m_model(new QStandardItemModel(this))
    , m_proxy(new QSortFilterProxyModel(this)) {
    setObjectName(QStringLiteral("dlgPesquisa"));
    GiveDialogHints(this);
    setWindowTitle(title.isEmpty() ? QStringLiteral("Pesquisa") : title);
    m_filter->setObjectName(QStringLiteral("edtFiltro"));
    m_filter->setPlaceholderText(QStringLiteral("Digite para filtrar"));
    m_table->setObjectName(QStringLiteral("tabelaPesquisa"));

    m_model->setColumnCount(int(visibleFields.size()));
    const protocol::DataPacket data = rows.Data();
    for (int c = 0; c < visibleFields.size(); ++c) {
        const TField& f = rows.FieldByName(visibleFields[c]);
        m_model->setHeaderData(c, Qt::Horizontal,
                               f.DisplayLabel.isEmpty() ? f.FieldName() : f.DisplayLabel);
    }
    for (int r = 0; r < data.rows.size(); ++r) {
        QList<QStandardItem*> line;
        for (const QString& name : visibleFields) {
            auto* item = new QStandardItem(data.rows[r][rows.FieldByName(name).index()].toString());
            item->setEditable(false);
            item->setData(r, Qt::UserRole);
            line << item;
        }
        m_model->appendRow(line);
    }
    m_proxy->setSourceModel(m_model);
    m_proxy->setFilterKeyColumn(-1);
    m_proxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    m_table->setModel(m_proxy);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->setWordWrap(false);
    fitColumns();
    m_table->setTabKeyNavigation(false);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Selecionar"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancelar"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_table, &QTableView::doubleClicked, this, &QDialog::accept);
    connect(m_filter, &QLineEdit::textChanged, this, [this](const QString& text) {
        m_proxy->setFilterFixedString(text);
        selectFirstRow();
    });
    m_filter->installEventFilter(this);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_filter);
    layout->addWidget(m_table);
    layout->addWidget(buttons);
    resize(420, 320);

    // Open on the current row, as the record set stands.
    const QModelIndex current =
        m_proxy->mapFromSource(m_model->index(std::max(0, rows.RecNo()), 0));
    if (current.isValid()) m_table->selectRow(current.row());
    m_filter->setFocus();
}

void TPickList::fitColumns() {
    // Each column as wide as its texts; the one with the longest texts (the name) takes the rest.
    QHeaderView* header = m_table->horizontalHeader();
    int widest = 0;
    qsizetype widestLength = -1;
    for (int c = 0; c < m_model->columnCount(); ++c) {
        header->setSectionResizeMode(c, QHeaderView::ResizeToContents);
        qsizetype length = 0;
        for (int r = 0; r < m_model->rowCount(); ++r)
            length = std::max(length, m_model->item(r, c)->text().size());
        if (length > widestLength) {
            widestLength = length;
            widest = c;
        }
    }
    if (m_model->columnCount() > 0) header->setSectionResizeMode(widest, QHeaderView::Stretch);
}

void TPickList::selectFirstRow() {
    if (m_proxy->rowCount() > 0)
        m_table->selectRow(0);
    else
        m_table->clearSelection();
}

int TPickList::PickedRecord() const {
    const QModelIndexList rows = m_table->selectionModel()->selectedRows();
    if (rows.isEmpty()) return -1;
    return m_proxy->data(rows.first(), Qt::UserRole).toInt();
}

bool TPickList::eventFilter(QObject* watched, QEvent* event) {
    // The arrows and page keys typed in the filter move through the rows.
    if (watched == m_filter && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        switch (key->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            QCoreApplication::sendEvent(m_table, event);
            return true;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}
