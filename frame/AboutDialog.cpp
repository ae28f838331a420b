#include "frame/AboutDialog.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include "res/DialogUnits.h"
#include "res/Resources.h"

const std::vector<AboutLine>& CAboutDialog::PaintedLines()
{
    static const std::vector<AboutLine> lines = {
        {{65, 15}, QStringLiteral("Lumora 1.0 版")},
        {{65, 30}, QStringLiteral("Lumora Studio  Copyright (C) 2026")},
        {{65, 45}, HomepageUrl()},
        {{65, 60}, QStringLiteral("Email:studio@lumora.example.org")},
        // x = 102 sets the second address under the address part of the line above.
        {{102, 75}, QStringLiteral("support@lumora.example.org")},
        {{65, 90}, QStringLiteral("MSN:lumora.studio@example.org")},
        {{65, 105}, QStringLiteral("QQ:10000")},
    };
    return lines;
}

CAboutDialog::CAboutDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
{
    const QFont font = DialogFont();
    setFont(font);
    setWindowTitle(QStringLiteral("关于 Lumora"));
    const DialogUnits units(font);
    setFixedSize(units.Size(170, 102));

    iconLabel = new QLabel(this);
    const QRect iconRect = units.Rect(12, 10, 21, 21);
    iconLabel->setGeometry(iconRect);
    iconLabel->setPixmap(ApplicationIcon().pixmap(iconRect.size()));

    // The name and version are the first painted line: a label of them too
    // would print them a second time over it.

    okButton = new QPushButton(QStringLiteral("确定"), this);
    okButton->setDefault(true);
    okButton->setAutoDefault(true);
    units.Place(okButton, 113, 81, 50, 14);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
    okButton->setFocus();
}

CAboutDialog::~CAboutDialog() = default;

void CAboutDialog::paintEvent(QPaintEvent* event)
{
    QDialog::paintEvent(event);
    QPainter painter(this);
    // A fresh font on every paint; nothing is cached between paints.
    const QFont font = DialogFont();
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.setBackgroundMode(Qt::TransparentMode);
    // The positions name the top-left of the text cell; QPainter wants the
    // baseline.
    const int ascent = QFontMetrics(font, this).ascent();
    for (const AboutLine& line : PaintedLines())
        painter.drawText(line.position + QPoint(0, ascent), line.text);
}
