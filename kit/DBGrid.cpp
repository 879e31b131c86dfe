#include "DBGrid.h"

#include "Dispatch.h"
#include "Formats.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionHeader>
#include <QStyledItemDelegate>

namespace {
class CellDelegate : public QStyledItemDelegate {
public:
    explicit CellDelegate(TDBGrid* grid)
        : QStyledItemDelegate(grid)
        , m_grid(grid) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        if (!m_grid->OnDrawColumnCell || index.column() >= m_grid->Columns.size()) return;
        painter->save();
        QStyleOptionViewItem state = option;
        initStyleOption(&state, index);
        // The canvas brush is the cell's background for its state, as the grid painted it.
        const bool highlighted = option.state & QStyle::State_Selected;
        painter->setBrush(highlighted ? option.palette.highlight() : option.palette.base());
        Dispatch([&] {
            m_grid->OnDrawColumnCell(painter, option.rect, index.column(),
                                     m_grid->Columns[index.column()], state);
        });
        painter->restore();
    }

private:
    TDBGrid* m_grid;
};
} // namespace

// --- DataSetModel ----------------------------------------------------------------------------

DataSetModel::DataSetModel(TDBGrid* grid)
    : QAbstractTableModel(grid)
    , m_grid(grid) {}

DataSetModel::~DataSetModel() {
    if (m_source) m_source->removeLink(this);
}

void DataSetModel::setSource(TDataSource* source) {
    if (m_source) m_source->removeLink(this);
    m_source = source;
    if (m_source) m_source->addLink(this);
    reset();
}

void DataSetModel::reset() {
    beginResetModel();
    const TClientDataSet* ds = m_source ? m_source->DataSet() : nullptr;
    m_snapshot = ds && ds->Active() ? ds->Data() : protocol::DataPacket();
    endResetModel();
    m_grid->syncCurrentRow();
}

void DataSetModel::linkStateChanged() {
    reset();
}

void DataSetModel::linkRecordChanged(TField* field) {
    const TClientDataSet* ds = m_source ? m_source->DataSet() : nullptr;
    if (!field || !ds || ds->RecNo() < 0 || ds->State() == DataSetState::Insert) {
        reset();
        return;
    }
    const int row = ds->RecNo();
    const int col = m_snapshot.indexOf(field->FieldName());
    if (row < m_snapshot.rows.size() && col >= 0) {
        m_snapshot.rows[row][col] = field->Value();
        emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    }
}

int DataSetModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_snapshot.rows.size());
}

int DataSetModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_grid->Columns.size());
}

QVariant DataSetModel::cellValue(int row, int column) const {
    if (row < 0 || row >= m_snapshot.rows.size() || column < 0 || column >= m_grid->Columns.size())
        return {};
    const int col = m_snapshot.indexOf(m_grid->Columns[column].FieldName);
    return col < 0 ? QVariant() : m_snapshot.rows[row][col];
}

QVariant DataSetModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    if (role == Qt::DisplayRole) {
        const TClientDataSet* ds = m_source ? m_source->DataSet() : nullptr;
        // The current row shows the record as it is being edited.
        if (ds && ds->Editing() && index.row() == ds->RecNo())
            if (TField* f = ds->FindField(m_grid->Columns[index.column()].FieldName))
                return f->DisplayText();
        const QVariant v = cellValue(index.row(), index.column());
        return v.typeId() == QMetaType::Double ? QVariant(FloatToStr(v.toDouble())) : v;
    }
    return {};
}

QVariant DataSetModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section >= m_grid->Columns.size()) return {};
    const TColumn& c = m_grid->Columns[section];
    if (role == Qt::DisplayRole) return c.Title;
    if (role == Qt::ForegroundRole && c.TitleColor.isValid()) return c.TitleColor;
    return {};
}

// --- TDBGrid ---------------------------------------------------------------------------------

TDBGrid::TDBGrid(QWidget* parent, const QString& name)
    : QTableView(parent)
    , m_model(new DataSetModel(this)) {
    setObjectName(name);
    setModel(m_model);
    setItemDelegate(new CellDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setSectionsMovable(true);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int logical) {
        if (OnTitleClick && logical < Columns.size())
            Dispatch([&] { OnTitleClick(Columns[logical]); });
    });
}

void TDBGrid::SetDataSource(TDataSource* source) {
    m_model->setSource(source);
}

void TDBGrid::SetColumns(const QList<TColumn>& columns) {
    Columns = columns;
    m_model->setSource(m_model->source());
    applyColumnWidths();
}

int TDBGrid::DisplayWidth(int column) const {
    const TColumn& c = Columns.at(column);
    if (c.Width < 0) return -1;
    // Declared widths are those of the 8-point design font: 13 pixels high, characters 5 pixels
    // wide on average. The grid's font is larger on most desktops.
    const QFontMetrics fm = fontMetrics();
    const double scale = std::max({1.0, fm.height() / 13.0, fm.averageCharWidth() / 5.0});
    QHeaderView* header = horizontalHeader();
    QStyleOptionHeader title;
    title.initFrom(header);
    title.text = c.Title;
    title.section = column;
    title.fontMetrics = header->fontMetrics();
    const int titleWidth = header->style()
                               ->sizeFromContents(QStyle::CT_HeaderSection, &title, QSize(), header)
                               .width();
    return std::max(qRound(c.Width * scale), titleWidth);
}

void TDBGrid::applyColumnWidths() {
    for (int i = 0; i < Columns.size(); ++i)
        if (const int w = DisplayWidth(i); w >= 0) setColumnWidth(i, w);
}

void TDBGrid::changeEvent(QEvent* e) {
    QTableView::changeEvent(e);
    if (e->type() == QEvent::FontChange || e->type() == QEvent::StyleChange) {
        verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
        applyColumnWidths();
    }
}

int TDBGrid::SelectedIndex() const {
    return currentIndex().isValid() ? currentIndex().column() : 0;
}

TField* TDBGrid::SelectedField() const {
    TDataSource* s = DataSource();
    if (!s || !s->DataSet() || Columns.isEmpty()) return nullptr;
    return s->DataSet()->FindField(Columns.value(SelectedIndex()).FieldName);
}

void TDBGrid::syncCurrentRow() {
    TDataSource* s = DataSource();
    const int row = s && s->DataSet() ? s->DataSet()->RecNo() : -1;
    if (row < 0 || row >= m_model->rowCount()) return;
    const int col = std::max(0, currentIndex().column());
    m_syncing = true;
    setCurrentIndex(m_model->index(row, col));
    m_syncing = false;
}

void TDBGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (m_syncing || !current.isValid()) return;
    TDataSource* s = DataSource();
    if (s && s->DataSet() && current.row() != s->DataSet()->RecNo()) {
        TClientDataSet* ds = s->DataSet();
        const int row = current.row();
        if (!Dispatch([&] { ds->MoveTo(row); })) syncCurrentRow();
    }
    if (current.column() != previous.column() && OnColEnter) Dispatch(OnColEnter);
}

void TDBGrid::keyPressEvent(QKeyEvent* e) {
    int key = e->key();
    if (OnKeyDown) Dispatch([&] { OnKeyDown(key, e->modifiers()); });
    if (key == 0) {
        e->accept();
        return;
    }
    TDataSource* s = DataSource();
    // Moving down from the last row asks the set for a new record, which the set may refuse.
    if (key == Qt::Key_Down && s && s->DataSet() && s->DataSet()->Active() &&
        currentIndex().row() == m_model->rowCount() - 1 &&
        !(e->modifiers() & Qt::ControlModifier)) {
        TClientDataSet* ds = s->DataSet();
        Dispatch([ds] { ds->Insert(); });
        e->accept();
        return;
    }
    QTableView::keyPressEvent(e);
}

void TDBGrid::mousePressEvent(QMouseEvent* e) {
    QTableView::mousePressEvent(e);
    const QModelIndex index = indexAt(e->position().toPoint());
    if (index.isValid() && OnCellClick && index.column() < Columns.size())
        Dispatch([&] { OnCellClick(Columns[index.column()]); });
}

int IndiceCol(const TDBGrid* grid, const QString& fieldName) {
    for (int i = 0; i < grid->Columns.size(); ++i)
        if (grid->Columns[i].FieldName.compare(fieldName, Qt::CaseInsensitive) == 0) return i;
    return -1;
}
