// Tick cells of the three questionnaire grids painted as check boxes instead of letters.

#include "Parametros.h"
#include "TickFields.h"

#include <QPainter>

using namespace questionnaire;

void TfrmParametros::dbgQuestCandDrawColumnCell(QPainter* canvas, const QRect& Rect,
                                                int /*DataCol*/, TColumn& Column,
                                                const QStyleOptionViewItem& /*State*/) {
    if (Column.FieldName == IDCARG)
        paintTickCell(canvas, Rect, dbgQuestCand->ColumnValue(Column));
    else if (Column.FieldName == IDDEPT)
        paintTickCell(canvas, Rect, dbgQuestCand->ColumnValue(Column));
    else if (Column.FieldName == IDPADR)
        paintTickCell(canvas, Rect, dbgQuestCand->ColumnValue(Column));
}

void TfrmParametros::dbgCargoDrawColumnCell(QPainter* canvas, const QRect& Rect, int /*DataCol*/,
                                            TColumn& Column,
                                            const QStyleOptionViewItem& /*State*/) {
    if (Column.FieldName == IDCHECK) paintTickCell(canvas, Rect, dbgCargo->ColumnValue(Column));
}

void TfrmParametros::dbgDeptoDrawColumnCell(QPainter* canvas, const QRect& Rect, int /*DataCol*/,
                                            TColumn& Column,
                                            const QStyleOptionViewItem& /*State*/) {
    if (Column.FieldName == IDCHECK) paintTickCell(canvas, Rect, dbgDepto->ColumnValue(Column));
}

// The picture for the value ("" greyed, "N" empty box, "S" ticked box; nothing for any other
// value, a null included) over the cell's own background, one pixel in from the left and
// unscaled; olive pixels of the picture let the background show.
void TfrmParametros::paintTickCell(QPainter* canvas, const QRect& rect,
                                   const QVariant& value) const {
    QPixmap scratch;
    if (value.isValid() && !value.isNull()) {
        const QString text = value.toString();
        if (text.isEmpty())
            scratch = imgDesCheck->pixmap();
        else if (text == NotTicked)
            scratch = imgUncheck->pixmap();
        else if (text == Ticked)
            scratch = imgCheck->pixmap();
    }
    canvas->fillRect(rect, canvas->brush());
    if (scratch.isNull()) return;
    scratch.setMask(scratch.createMaskFromColor(QColor(128, 128, 0), Qt::MaskInColor));
    const QRect source(0, 0, scratch.width(), std::min(rect.height(), scratch.height()));
    canvas->drawPixmap(QPoint(rect.left() + 1, rect.top()), scratch, source);
}
