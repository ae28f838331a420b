#pragma once
// The About box (template 100): the icon and seven lines of text (the name
// and version first) that the dialog paints itself at fixed pixel positions.

#include <QDialog>
#include <QPoint>
#include <QString>
#include <vector>

class QLabel;
class QPushButton;

// One painted line: `position` is the top-left of its text cell, in
// client-area pixels (not dialog units, so it stays put at any font size).
struct AboutLine {
    QPoint position;
    QString text;
};

class CAboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDialog(QWidget* parent = nullptr);
    ~CAboutDialog() override;

    // The seven lines in painting order.
    static const std::vector<AboutLine>& PaintedLines();

    QPushButton* OkButton() const { return okButton; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* iconLabel = nullptr;
    QPushButton* okButton = nullptr;
};
