#pragma once
// A splitter whose handle can be seen and grabbed: a raised bar with a grip in its middle. Until
// the user drags it, OnResize may share the room out again at every size.

#include <QSplitter>
#include <functional>

class TSplitter : public QSplitter {
public:
    TSplitter(Qt::Orientation orientation, const QString& name);

    bool MovedByUser() const { return m_moved; }
    std::function<void()> OnResize;

protected:
    QSplitterHandle* createHandle() override;
    void resizeEvent(QResizeEvent* e) override;

private:
    bool m_moved = false;
};
