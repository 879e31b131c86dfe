#pragma once
// A splitter whose handle can be seen and grabbed: a raised bar with a grip in its middle.
// OnResize runs at every size; until the user drags the handle it may share the room out again.

#include <QSplitter>
#include <functional>

class TSplitter : public QSplitter {
public:
    TSplitter(Qt::Orientation orientation, const QString& name);

    bool MovedByUser() const { return m_moved; }
    // A share the user set in one direction means nothing in the other: it is forgotten.
    void SetOrientation(Qt::Orientation orientation);
    std::function<void()> OnResize;

protected:
    QSplitterHandle* createHandle() override;
    void resizeEvent(QResizeEvent* e) override;

private:
    bool m_moved = false;
};
