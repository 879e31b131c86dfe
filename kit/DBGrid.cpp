#include "DBGrid.h"

#include "Dispatch.h"
#include "Formats.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionHeader>
#include <QStyledItemDelegate>

class CellDelegate : public QStyledItemDelegate {
public:
    explicit CellDelegate(TDBGrid* grid)
        : QStyledItemDelegate(grid)
        , m_grid(grid) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& given,
               const QModelIndex& index) const override {
        QStyleOptionViewItem option = given;
        if (!m_grid->AlwaysShowSelection && !m_grid->hasFocus())
            option.state &= ~QStyle::State_Selected;
        QStyledItemDelegate::paint(painter, option, index);
        if (!m_grid->OnDrawColumnCell || index.column() >= m_grid->Columns.size()) return;
        painter->save();
        QStyleOptionViewItem state = option;
        initStyleOption(&state, index);
        // The canvas brush is the cell's background for its state, as the grid painted it.
        const QPalette::ColorGroup group =
            !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
            : (option.state & QStyle::State_Active) ? QPalette::Active
                                                    : QPalette::Inactive;
        const bool highlighted = option.state & QStyle::State_Selected;
        painter->setBrush(
            option.palette.brush(group, highlighted ? QPalette::Highlight : QPalette::Base));
        m_grid->m_drawingRow = index.row();
        DispatchDrawing([&] {
            m_grid->OnDrawColumnCell(painter, option.rect, index.column(),
                                     m_grid->Columns[index.column()], state);
        });
        m_grid->m_drawingRow = -1;
        painter->restore();
    }

private:
    TDBGrid* m_grid;
};

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
    // The current column survives the reset, as the user left it.
    const int column = m_grid->currentIndex().column();
    beginResetModel();
    const TClientDataSet* ds = m_source ? m_source->DataSet() : nullptr;
    m_rows = ds && ds->Active() ? ds->RecordCount() : 0;
    endResetModel();
    if (!m_grid->m_stretchField.isEmpty()) m_grid->applyStretchColumn();
    m_grid->syncCurrentRow(column);
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
    // The edited row already shows the record being edited (cellValue); it only repaints.
    const int row = ds->RecNo();
    if (row < m_rows) emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

int DataSetModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_rows;
}

int DataSetModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_grid->Columns.size());
}

QVariant DataSetModel::cellValue(int row, int column) const {
    const TClientDataSet* ds = m_source ? m_source->DataSet() : nullptr;
    if (!ds || row < 0 || row >= m_rows || column < 0 || column >= m_grid->Columns.size())
        return {};
    TField* f = ds->FindField(m_grid->Columns[column].FieldName);
    if (!f) return {};
    if (ds->Editing() && row == ds->RecNo()) return f->Value();
    return ds->ValueAt(row, f->index());
}

QVariant DataSetModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    if (role == Qt::EditRole) return cellValue(index.row(), index.column()).toString();
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

Qt::ItemFlags DataSetModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid() && m_grid->InPlaceEditing && index.column() < m_grid->Columns.size() &&
        !m_grid->Columns[index.column()].ReadOnly)
        f |= Qt::ItemIsEditable;
    return f;
}

bool DataSetModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable) || !m_source) return false;
    TClientDataSet* ds = m_source->DataSet();
    TField* f = ds ? ds->FindField(m_grid->Columns[index.column()].FieldName) : nullptr;
    if (!f || index.row() != ds->RecNo()) return false;
    // Through the data source, so that a browsed record starts editing first.
    return Dispatch([&] {
        if (m_source->Edit()) f->SetText(value.toString());
    });
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
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed);
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

void TDBGrid::SetStretchColumn(const QString& fieldName) {
    m_stretchField = fieldName;
    applyColumnWidths();
}

void TDBGrid::applyColumnWidths() {
    for (int i = 0; i < Columns.size(); ++i)
        if (const int w = DisplayWidth(i); w >= 0) setColumnWidth(i, w);
    applyStretchColumn();
}

void TDBGrid::applyStretchColumn() {
    QHeaderView* header = horizontalHeader();
    for (int i = 0; i < std::min(int(Columns.size()), header->count()); ++i)
        header->setSectionResizeMode(i, Columns[i].FieldName == m_stretchField
                                            ? QHeaderView::Stretch
                                            : QHeaderView::Interactive);
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

QVariant TDBGrid::ColumnValue(const TColumn& column) const {
    TDataSource* s = DataSource();
    const TClientDataSet* ds = s ? s->DataSet() : nullptr;
    if (!ds) return {};
    const int row = m_drawingRow >= 0 ? m_drawingRow : ds->RecNo();
    const int col = IndiceCol(this, column.FieldName);
    return col < 0 ? QVariant() : m_model->cellValue(row, col);
}

TField* TDBGrid::SelectedField() const {
    TDataSource* s = DataSource();
    if (!s || !s->DataSet() || Columns.isEmpty()) return nullptr;
    return s->DataSet()->FindField(Columns.value(SelectedIndex()).FieldName);
}

void TDBGrid::syncCurrentRow(int column) {
    TDataSource* s = DataSource();
    const int row = s && s->DataSet() ? s->DataSet()->RecNo() : -1;
    if (row < 0 || row >= m_model->rowCount()) return;
    const int col = std::clamp(column >= 0 ? column : currentIndex().column(), 0,
                               std::max(0, m_model->columnCount() - 1));
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
    // Space opens the editor where editing is allowed; it never clears the current cell.
    if (key == Qt::Key_Space) {
        edit(currentIndex(), AnyKeyPressed, e);
        e->accept();
        return;
    }
    QTableView::keyPressEvent(e);
}

void TDBGrid::mousePressEvent(QMouseEvent* e) {
    // The cell under the pointer now: moving the cursor reloads and may scroll the grid.
    const QModelIndex pressed = indexAt(e->position().toPoint());
    const int row = pressed.row(), column = pressed.column();
    QTableView::mousePressEvent(e);
    if (!pressed.isValid() || !OnCellClick || column >= Columns.size()) return;
    // A click on another row acts on that row once the cursor is there, never on the row the
    // cursor could not leave.
    TDataSource* s = DataSource();
    if (s && s->DataSet() && s->DataSet()->RecNo() != row) return;
    Dispatch([&] { OnCellClick(Columns[column]); });
}

void TDBGrid::focusInEvent(QFocusEvent* e) {
    QTableView::focusInEvent(e);
    if (!AlwaysShowSelection) viewport()->update();
}

void TDBGrid::focusOutEvent(QFocusEvent* e) {
    QTableView::focusOutEvent(e);
    if (!AlwaysShowSelection) viewport()->update();
}

int IndiceCol(const TDBGrid* grid, const QString& fieldName) {
    for (int i = 0; i < grid->Columns.size(); ++i)
        if (grid->Columns[i].FieldName.compare(fieldName, Qt::CaseInsensitive) == 0) return i;
    return -1;
}
