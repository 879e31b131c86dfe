#include "DBControls.h"

#include "Colours.h"
#include "Consiste.h"
#include "Dispatch.h"
#include "Exceptions.h"
#include "Icons.h"
#include "KeyCodes.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCalendarWidget>
#include <QClipboard>
#include <QGridLayout>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QRadioButton>

bool filterKey(const KeyPressHandler& handler, QWidget* sender, int& key) {
    if (!handler || key == keys::None) return true;
    const bool ok = Dispatch([&] { handler(sender, key); });
    return ok && key != keys::None;
}

// --- FieldLink -------------------------------------------------------------------------------

TField* FieldLink::Field() const {
    if (!m_source || !m_source->DataSet() || m_fieldName.isEmpty()) return nullptr;
    return m_source->DataSet()->FindField(m_fieldName);
}

bool FieldLink::DataSetEditing() const {
    return m_source && m_source->DataSet() && m_source->DataSet()->Editing();
}

void FieldLink::bind(TDataSource* source, const QString& fieldName) {
    unbind();
    m_source = source;
    m_fieldName = fieldName;
    if (m_source) m_source->addLink(this);
    linkStateChanged();
    linkRecordChanged(nullptr);
}

void FieldLink::unbind() {
    if (m_source) m_source->removeLink(this);
    m_source = nullptr;
}

bool FieldLink::startEditing() {
    if (!m_source || !m_source->DataSet() || !m_source->DataSet()->Active() || !Field())
        return false;
    bool editing = false;
    if (!Dispatch([&] { editing = m_source->Edit(); })) return false;
    return editing;
}

// --- TEdit -----------------------------------------------------------------------------------

TEdit::TEdit(QWidget* parent, const QString& name)
    : QLineEdit(parent) {
    setObjectName(name);
    setContextMenuPolicy(Qt::NoContextMenu); // pasting goes through the key filter only
    setDragEnabled(false);
    setAcceptDrops(false);
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (OnChange) Dispatch(OnChange);
    });
}

void TEdit::keyPressEvent(QKeyEvent* e) {
    int code = charCodeFor(e);
    if (!filterKey(OnKeyPress, this, code)) {
        e->accept();
        return;
    }
    QLineEdit::keyPressEvent(e);
}

namespace {
// The selection paste of the middle button goes around the key filter: a filtered edit takes
// what is pasted only through its filter, which refuses it.
bool refusesSelectionPaste(const KeyPressHandler& filter, QMouseEvent* e) {
    return filter && e->button() == Qt::MiddleButton;
}
} // namespace

void TEdit::mouseReleaseEvent(QMouseEvent* e) {
    if (refusesSelectionPaste(OnKeyPress, e)) {
        e->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(e);
}

// --- TDBEdit ---------------------------------------------------------------------------------

TDBEdit::TDBEdit(QWidget* parent, const QString& name)
    : QLineEdit(parent) {
    setObjectName(name);
    setContextMenuPolicy(Qt::NoContextMenu);
    setDragEnabled(false);
    setAcceptDrops(false);
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (!m_refreshing) m_modified = true;
    });
}

int TDBEdit::typingLimit() const {
    if (m_maxLength > 0) return m_maxLength;
    const TField* f = Field();
    return f && f->DataType() == FieldType::String ? f->Size() : 0;
}

bool TDBEdit::acceptsChar(int key) const {
    const TField* f = Field();
    if (!f || key < 32 || f->DataType() != FieldType::Float) return true;
    const QChar c(key);
    return c.isDigit() || c == u'+' || c == u'-' || c == u'E' || c == u'e' || c == u',';
}

void TDBEdit::keyPressEvent(QKeyEvent* e) {
    int code = charCodeFor(e);
    if (!filterKey(OnKeyPress, this, code) || !acceptsChar(code)) {
        e->accept();
        return;
    }
    // A key the limit refuses does not start editing either.
    if (code >= 32 && exceedsNumberLimit(QString(QChar(code)))) {
        e->accept();
        return;
    }
    if (keyModifiesText(e) && !isReadOnly() && !DataSetEditing() && !startEditing()) {
        e->accept();
        return;
    }
    const TField* field = Field();
    if (field && field->DataType() == FieldType::Float) {
        if (e == QKeySequence::Paste) {
            const QString pasted = QGuiApplication::clipboard()->text();
            if (!exceedsNumberLimit(pasted)) insert(pasted);
            e->accept();
            return;
        }
        QLineEdit::keyPressEvent(e);
        return;
    }
    const int limit = typingLimit();
    const qsizetype room = limit - (text().size() - selectedText().size());
    if (limit > 0 && e == QKeySequence::Paste) {
        const QString pasted = QGuiApplication::clipboard()->text();
        if (room > 0) insert(pasted.left(room));
        e->accept();
        return;
    }
    if (limit > 0 && code >= 32 && room <= 0) {
        e->accept();
        return;
    }
    QLineEdit::keyPressEvent(e);
}

bool TDBEdit::exceedsNumberLimit(const QString& typed) const {
    const TField* f = Field();
    const int limit = typingLimit();
    if (!f || f->DataType() != FieldType::Float || limit <= 0) return false;
    // The digits of the whole part count, not the separators the format shows; the decimals
    // are as many as the format shows.
    QString after = text();
    const int from = hasSelectedText() ? selectionStart() : cursorPosition();
    after.replace(from, selectedText().size(), typed);
    const qsizetype comma = after.indexOf(u',');
    const auto digits = [](QStringView part) {
        return std::count_if(part.begin(), part.end(), [](QChar c) { return c.isDigit(); });
    };
    if (digits(QStringView(after).left(comma < 0 ? after.size() : comma)) > limit) return true;
    const QString format = f->EditFormat.isEmpty() ? f->DisplayFormat : f->EditFormat;
    const qsizetype point = format.indexOf(u'.');
    if (comma < 0 || point < 0) return false;
    const auto decimals = std::count_if(format.begin() + point + 1, format.end(),
                                        [](QChar c) { return c == u'0' || c == u'#'; });
    return digits(QStringView(after).mid(comma + 1)) > decimals;
}

void TDBEdit::mouseReleaseEvent(QMouseEvent* e) {
    if (refusesSelectionPaste(OnKeyPress, e)) {
        e->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(e);
}

void TDBEdit::focusInEvent(QFocusEvent* e) {
    if (!m_modified) refresh();
    QLineEdit::focusInEvent(e);
}

void TDBEdit::afterExit() {
    if (!m_modified) refresh();
}

void TDBEdit::UpdateRecord() {
    if (!m_modified) return;
    TField* f = Field();
    if (!f || !DataSetEditing()) return;
    f->SetText(textForField());
    m_modified = false;
}

void TDBEdit::refresh() {
    const TField* f = Field();
    m_refreshing = true;
    setText(!f ? QString() : hasFocus() ? f->EditText() : f->DisplayText());
    m_refreshing = false;
    m_modified = false;
}

void TDBEdit::linkStateChanged() {
    if (!DataSetEditing()) refresh();
}

void TDBEdit::linkRecordChanged(TField* field) {
    if (!field || field == Field()) refresh();
}

void TDBEdit::linkFocusControl(TField& field) {
    if (&field == Field()) focusIntoView(this);
}

// --- TDBDateEditPlus -------------------------------------------------------------------------

namespace {
const QString DateFormat = QStringLiteral("dd/MM/yyyy");
bool hasDigits(const QString& text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); });
}
} // namespace

TDBDateEditPlus::TDBDateEditPlus(QWidget* parent, const QString& name)
    : TDBEdit(parent, name) {
    setInputMask(QStringLiteral("99/99/9999; "));
    QAction* calendar =
        addAction(StyleIcon(QStyle::SP_FileDialogDetailedView), QLineEdit::TrailingPosition);
    calendar->setObjectName(name + QStringLiteral("Calendario"));
    calendar->setToolTip(QStringLiteral("Calendário"));
    connect(calendar, &QAction::triggered, this, [this] { showCalendar(); });
    connect(this, &QLineEdit::textChanged, this, [this] { paintValidity(); });
}

QString TDBDateEditPlus::textForField() const {
    return hasDigits(text()) ? text() : QString();
}

bool TDBDateEditPlus::acceptsChar(int key) const {
    return key < 32 || QChar(key).isDigit();
}

void TDBDateEditPlus::CheckValidDate() {
    if (!hasDigits(text())) return;
    if (!QDate::fromString(text(), DateFormat).isValid()) {
        focusIntoView(this);
        MensErro(QStringLiteral("%1 não é uma data válida.").arg(text()), true);
    }
}

void TDBDateEditPlus::commitOnExit() {
    if (Modified()) CheckValidDate();
    UpdateRecord();
}

QDate TDBDateEditPlus::GetDate() const {
    return QDate::fromString(text(), DateFormat);
}

void TDBDateEditPlus::SetDate(const QDate& date) {
    if (!DataSetEditing() && !startEditing()) return;
    setText(date.toString(DateFormat));
}

void TDBDateEditPlus::paintValidity() {
    const QDate date = GetDate();
    QPalette p = palette();
    const QColor plain = QApplication::palette(this).color(QPalette::Text);
    p.setColor(QPalette::Text,
               date.isValid() ? ReadableOn(ValidDateColor, p.color(QPalette::Base)) : plain);
    setPalette(p);
    setToolTip(date.isValid() && NomeSemana.size() == 7 ? NomeSemana[date.dayOfWeek() % 7]
                                                        : QString());
}

void TDBDateEditPlus::showCalendar() {
    auto* calendar = new QCalendarWidget(this);
    calendar->setObjectName(objectName() + QStringLiteral("Popup"));
    calendar->setWindowFlags(Qt::Popup);
    calendar->setAttribute(Qt::WA_DeleteOnClose);
    calendar->setLocale(QLocale(QLocale::Portuguese, QLocale::Brazil));
    if (GetDate().isValid()) calendar->setSelectedDate(GetDate());
    // One click on a day picks it, as a person expects of a calendar; Enter does too.
    const auto pick = [this, calendar](QDate date) {
        calendar->close();
        SetDate(date);
    };
    connect(calendar, &QCalendarWidget::activated, this, pick);
    connect(calendar, &QCalendarWidget::clicked, this, pick);
    calendar->move(mapToGlobal(QPoint(0, height())));
    calendar->show();
    calendar->setFocus(Qt::PopupFocusReason);
}

void TDBDateEditPlus::keyPressEvent(QKeyEvent* e) {
    // The keys of Qt's own date editors open the calendar.
    const bool altDown = e->key() == Qt::Key_Down && (e->modifiers() & Qt::AltModifier);
    if (altDown || (e->key() == Qt::Key_F4 && e->modifiers() == Qt::NoModifier)) {
        e->accept();
        showCalendar();
        return;
    }
    TDBEdit::keyPressEvent(e);
}

// --- TDBRadioGroup ---------------------------------------------------------------------------

TDBRadioGroup::TDBRadioGroup(QWidget* parent, const QString& name, const QString& caption,
                             const QStringList& items, const QStringList& values, int columns)
    : QGroupBox(caption, parent)
    , Values(values)
    , m_buttons(new QButtonGroup(this)) {
    setObjectName(name);
    auto* grid = new QGridLayout(this);
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items[i], this);
        b->setObjectName(name + QString::number(i));
        m_buttons->addButton(b, i);
        grid->addWidget(b, i / std::max(1, columns), i % std::max(1, columns));
    }
    connect(m_buttons, &QButtonGroup::idClicked, this, [this](int id) { userClicked(id); });
}

void TDBRadioGroup::setIndex(int index) {
    m_buttons->setExclusive(false);
    for (QAbstractButton* b : m_buttons->buttons())
        b->setChecked(m_buttons->id(b) == index);
    m_buttons->setExclusive(true);
    if (index == m_index) return;
    m_index = index;
    if (OnChange) Dispatch(OnChange);
}

void TDBRadioGroup::refresh() {
    const TField* f = Field();
    setIndex(f ? int(Values.indexOf(f->AsString())) : -1);
}

void TDBRadioGroup::linkRecordChanged(TField* field) {
    if (!field || field == Field()) refresh();
}

void TDBRadioGroup::userClicked(int index) {
    if (!DataSetEditing() && !startEditing()) {
        refresh();
        return;
    }
    if (!Dispatch([&] { Field()->SetValue(Values.value(index)); }))
        refresh();
    else
        setIndex(index);
}

// --- TDBComboBox -----------------------------------------------------------------------------

TDBComboBox::TDBComboBox(QWidget* parent, const QString& name, const QStringList& items)
    : QComboBox(parent) {
    setObjectName(name);
    addItems(items);
    setCurrentIndex(-1);
    connect(this, &QComboBox::activated, this, [this](int index) { userChose(index); });
}

void TDBComboBox::keyPressEvent(QKeyEvent* e) {
    int code = charCodeFor(e);
    if (!filterKey(OnKeyPress, this, code)) {
        e->accept();
        return;
    }
    QComboBox::keyPressEvent(e);
}

void TDBComboBox::refresh() {
    const TField* f = Field();
    m_refreshing = true;
    setCurrentIndex(f ? findText(f->DisplayText(), Qt::MatchExactly | Qt::MatchCaseSensitive) : -1);
    m_refreshing = false;
}

void TDBComboBox::linkRecordChanged(TField* field) {
    if (!field || field == Field()) refresh();
}

void TDBComboBox::linkFocusControl(TField& field) {
    if (&field == Field()) focusIntoView(this);
}

void TDBComboBox::userChose(int index) {
    if (!DataSetEditing() && !startEditing()) {
        refresh();
        return;
    }
    const QString text = itemText(index);
    if (!Dispatch([&] { Field()->SetText(text); })) {
        refresh();
        return;
    }
    m_refreshing = true;
    setCurrentIndex(index); // the field's text hook may store a code the list does not show
    m_refreshing = false;
    if (OnChange) Dispatch(OnChange);
}
