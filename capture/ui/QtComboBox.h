#pragma once
// Lets the device catalogue fill a Qt drop-down list.

#include <QComboBox>
#include <QString>

#include "capture/ComboBox.h"

class CQtComboBox : public IComboBox {
public:
    explicit CQtComboBox(QComboBox* combo) : combo(combo) {}
    void AddString(const std::string& text) override
    {
        // Appended, never sorted: a list index is the catalogue's position.
        combo->addItem(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    }

private:
    QComboBox* combo;
};
