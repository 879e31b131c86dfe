#pragma once
// The busy animation: a small strip with a block sliding to and fro while the program works.

#include <QBasicTimer>
#include <QWidget>

class TBusyAnimation : public QWidget {
    Q_OBJECT
public:
    explicit TBusyAnimation(QWidget* parent = nullptr);

    void Start();
    void Stop();
    bool Running() const { return m_timer.isActive(); }
    // The frame shown; it advances while the animation runs.
    int Frame() const { return m_frame; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* e) override;
    void timerEvent(QTimerEvent* e) override;

private:
    QBasicTimer m_timer;
    int m_frame = 0;
};
