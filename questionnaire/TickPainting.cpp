// Tick cells of the three questionnaire grids painted as check boxes instead of letters, and the
// pictures they are painted with.

#include "Questionario.h"
#include "TickFields.h"

#include <QPainter>

using namespace questionnaire;

namespace {

QPixmap tickPicture(bool checked, bool disabled) {
    // Olive background is the transparent colour of these pictures.
    QPixmap pm(16, 16);
    pm.fill(QColor(128, 128, 0));
    QPainter p(&pm);
    p.fillRect(QRect(2, 2, 10, 10), disabled ? QColor(192, 192, 192) : Qt::white);
    p.setPen(Qt::black);
    p.drawLine(2, 2, 11, 2);
    p.drawLine(2, 2, 2, 11);
    p.setPen(QColor(192, 192, 192));
    p.drawLine(13, 1, 13, 13);
    p.drawLine(1, 13, 13, 13);
    if (checked) {
        p.setPen(QPen(Qt::black, 1.5));
        p.drawLine(4, 6, 6, 10);
        p.drawLine(6, 10, 10, 4);
    }
    return pm;
}

QLabel* hiddenPicture(QWidget* parent, const QString& name, const QPixmap& pixmap) {
    auto* l = new QLabel(parent);
    l->setObjectName(name);
    l->setPixmap(pixmap);
    l->setFixedSize(16, 16);
    l->hide();
    return l;
}

} // namespace

void TQuestionario::createTickPictures() {
    QWidget* parent = m_form.panMenu;
    imgCheck = hiddenPicture(parent, QStringLiteral("imgCheck"), tickPicture(true, false));
    imgUncheck = hiddenPicture(parent, QStringLiteral("imgUncheck"), tickPicture(false, false));
    imgDesCheck = hiddenPicture(parent, QStringLiteral("imgDesCheck"), tickPicture(false, true));
}

void TQuestionario::dbgQuestCandDrawColumnCell(QPainter* canvas, const QRect& Rect, int /*DataCol*/,
                                               TColumn& Column,
                                               const QStyleOptionViewItem& /*State*/) {
    if (Column.FieldName == IDCARG)
        paintTickCell(canvas, Rect, dbgQuestCand->ColumnValue(Column));
    else if (Column.FieldName == IDDEPT)
        paintTickCell(canvas, Rect, dbgQuestCand->ColumnValue(Column));
    else if (Column.FieldName == IDPADR)
        paintTickCell(canvas, Rect, dbgQuestCand->ColumnValue(Column));
}

void TQuestionario::dbgCargoDrawColumnCell(QPainter* canvas, const QRect& Rect, int /*DataCol*/,
                                           TColumn& Column, const QStyleOptionViewItem& /*State*/) {
    paintListTick(*dbgCargo, canvas, Rect, Column);
}

void TQuestionario::dbgDeptoDrawColumnCell(QPainter* canvas, const QRect& Rect, int /*DataCol*/,
                                           TColumn& Column, const QStyleOptionViewItem& /*State*/) {
    paintListTick(*dbgDepto, canvas, Rect, Column);
}

void TQuestionario::paintListTick(const TDBGrid& list, QPainter* canvas, const QRect& rect,
                                  const TColumn& column) const {
    if (column.FieldName == IDCHECK) paintTickCell(canvas, rect, list.ColumnValue(column));
}

// The picture for the value ("" greyed, "N" empty box, "S" ticked box; nothing for any other
// value, a null included) over the cell's own background, one pixel in from the left and
// unscaled; olive pixels of the picture let the background show.
void TQuestionario::paintTickCell(QPainter* canvas, const QRect& rect,
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
