#pragma once
// Dialog templates are laid out in dialog units: a horizontal unit is a
// quarter of the dialog font's average character width, a vertical unit an
// eighth of its height. Every dialog of the program converts through here.

#include <QFont>
#include <QRect>
#include <QSize>

class QWidget;

// 9-point "宋体", or the first installed CJK font when it is missing.
QFont DialogFont();

class DialogUnits {
public:
    explicit DialogUnits(const QFont& font = DialogFont());
    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int width, int height) const;
    QSize Size(int width, int height) const;
    // Puts `widget` at a template position (x, y, width, height in dialog units).
    void Place(QWidget* widget, int x, int y, int width, int height) const;

private:
    int baseX;
    int baseY;
};
