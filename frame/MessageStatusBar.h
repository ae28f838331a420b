#pragma once
// The status bar whose message is never cut unseen: one longer than the room
// left of the permanent fields (the recording's time, the sound meter) ends
// in "…", and pointing at it shows it whole.

#include <QStatusBar>

class CMessageStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit CMessageStatusBar(QWidget* parent = nullptr);

    // The room the message has, and whether it needs more.
    QRect MessageRect() const;
    bool MessageCut() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;
};
