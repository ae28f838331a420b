#pragma once
// 连拍设置: how many photos a burst takes and how far apart.

#include <QDialog>

class QDoubleSpinBox;
class QSpinBox;

class CBurstDialog : public QDialog {
    Q_OBJECT
public:
    explicit CBurstDialog(QWidget* parent = nullptr);

    QSpinBox* CountBox() const { return countBox; }
    QDoubleSpinBox* IntervalBox() const { return intervalBox; }

    // OK stores both in the profile.
    void accept() override;

private:
    QSpinBox* countBox = nullptr;
    QDoubleSpinBox* intervalBox = nullptr;
};
