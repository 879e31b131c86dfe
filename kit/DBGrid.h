#pragma once
// A grid over a record set: one row per record, the current row follows the set's cursor and
// moving the grid's row moves the cursor.

#include "DataSource.h"

#include <QAbstractTableModel>
#include <QFont>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <functional>

class TDBGrid;
class CellDelegate;

struct TColumn {
    TColumn() = default;
    TColumn(QString field, QString title, int width = -1, bool readOnly = false)
        : FieldName(std::move(field))
        , Title(std::move(title))
        , Width(width)
        , ReadOnly(readOnly) {}
    QString FieldName;
    QString Title;
    int Width = -1; // -1: the default width
    bool ReadOnly = false;
    QColor TitleColor;
};

class DataSetModel : public QAbstractTableModel, public DataLink {
    Q_OBJECT
public:
    explicit DataSetModel(TDBGrid* grid);
    ~DataSetModel() override;
    void setSource(TDataSource* source);
    TDataSource* source() const { return m_source; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    // The value of a cell of any row, read without moving the cursor; the current row gives the
    // record as it is being edited.
    QVariant cellValue(int row, int column) const;

private:
    void linkStateChanged() override;
    void linkRecordChanged(TField* field) override;
    void linkSourceDestroyed() override { m_source = nullptr; }
    void reset();

    TDBGrid* m_grid;
    TDataSource* m_source = nullptr;
    int m_rows = 0; // the set's records at the last reset: the view's row count between resets
};

class TDBGrid : public QTableView {
    Q_OBJECT
public:
    TDBGrid(QWidget* parent, const QString& name);

    // Detaching (null) leaves the grid empty while a rule walks the set.
    void SetDataSource(TDataSource* source);
    TDataSource* DataSource() const { return m_model->source(); }
    QList<TColumn> Columns;
    void SetColumns(const QList<TColumn>& columns);
    // The width a column is shown with: its declared width scaled to the grid's font, never
    // narrower than its title; -1 for the default width.
    int DisplayWidth(int column) const;
    // The column of this field takes the room the others leave; the others keep their widths.
    void SetStretchColumn(const QString& fieldName);
    int SelectedIndex() const; // current column
    TField* SelectedField() const;
    // Cells of columns that are not read-only open an editor (typing, F2, double click).
    bool InPlaceEditing = true;
    // Off: the current cell is highlighted only while the grid has the focus.
    bool AlwaysShowSelection = true;
    // The value of the column's field in the row being drawn, inside OnDrawColumnCell; in the
    // current row otherwise.
    QVariant ColumnValue(const TColumn& column) const;

    std::function<void(TColumn& column)> OnCellClick;
    std::function<void(TColumn& column)> OnTitleClick;
    std::function<void(int& key, Qt::KeyboardModifiers shift)> OnKeyDown;
    std::function<void()> OnColEnter;
    // Runs after the default drawing of every data cell.
    std::function<void(QPainter* canvas, const QRect& rect, int dataCol, TColumn& column,
                       const QStyleOptionViewItem& state)>
        OnDrawColumnCell;

    // Follows the record set's cursor (the model calls it), keeping the column given or the
    // current one.
    void syncCurrentRow(int column = -1);

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void changeEvent(QEvent* e) override;

private:
    void applyColumnWidths();
    void applyStretchColumn();
    friend class DataSetModel;
    friend class CellDelegate;
    DataSetModel* m_model;
    bool m_syncing = false;
    QString m_stretchField;
    int m_drawingRow = -1;
};

// The index of the grid column that shows the field, or -1.
int IndiceCol(const TDBGrid* grid, const QString& fieldName);
