#include "res/DialogUnits.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QWidget>

QFont DialogFont()
{
    static const QString family = [] {
        const QStringList families = QFontDatabase::families();
        for (const QString& wanted : {QStringLiteral("宋体"), QStringLiteral("SimSun"),
                                      QStringLiteral("WenQuanYi Micro Hei"),
                                      QStringLiteral("Noto Sans CJK SC"),
                                      QStringLiteral("WenQuanYi Zen Hei")}) {
            if (families.contains(wanted))
                return wanted;
        }
        for (const QString& candidate : families) {
            if (QFontDatabase::writingSystems(candidate).contains(QFontDatabase::SimplifiedChinese))
                return candidate;
        }
        return QString();
    }();
    QFont font(family);
    font.setPointSize(9);
    return font;
}

DialogUnits::DialogUnits(const QFont& font)
{
    // The classic base units: the average width of the Latin letters and the
    // line height of the font.
    const QFontMetrics metrics(font);
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    baseX = (metrics.horizontalAdvance(letters) / 26 + 1) / 2;
    baseY = metrics.height();
    if (baseX <= 0)
        baseX = 6;
    if (baseY <= 0)
        baseY = 12;
}

int DialogUnits::X(int units) const { return units * baseX / 4; }
int DialogUnits::Y(int units) const { return units * baseY / 8; }

QRect DialogUnits::Rect(int x, int y, int width, int height) const
{
    return QRect(X(x), Y(y), X(width), Y(height));
}

QSize DialogUnits::Size(int width, int height) const { return QSize(X(width), Y(height)); }

void DialogUnits::Place(QWidget* widget, int x, int y, int width, int height) const
{
    widget->setGeometry(Rect(x, y, width, height));
}
