#pragma once
// A bar above a form's pages that tells something without stopping the user: one line per
// subject, newest text of each, an action button and a button that puts the bar away.

#include <QFrame>
#include <QMap>

class QLabel;
class QPushButton;
class QToolButton;

class TNoticeBar : public QFrame {
    Q_OBJECT
public:
    TNoticeBar(QWidget* parent, const QString& actionText);

    // Shows the text for the subject, in place of its earlier one.
    void Tell(const QString& subject, const QString& text);
    // Takes the subject's line away; the bar goes when none is left.
    void Forget(const QString& subject);
    QStringList Subjects() const { return m_lines.keys(); }
    QString Text() const;
    QPushButton* ActionButton() const { return m_action; }

signals:
    void ActionClicked();

private:
    void showLines();

    QMap<QString, QString> m_lines;
    QLabel* m_text;
    QPushButton* m_action;
    QToolButton* m_close;
};
