#include "frame/BurstDialog.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QSpinBox>

#include <cmath>

#include "frame/BurstShooter.h"

CBurstDialog::CBurstDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("连拍设置"));
    countBox = new QSpinBox(this);
    countBox->setRange(CBurstShooter::kMinCount, CBurstShooter::kMaxCount);
    countBox->setSuffix(QStringLiteral(" 张"));
    countBox->setValue(CBurstShooter::RememberedCount());
    intervalBox = new QDoubleSpinBox(this);
    intervalBox->setDecimals(1);
    intervalBox->setSingleStep(0.5);
    intervalBox->setRange(CBurstShooter::kMinIntervalMs / 1000.0, CBurstShooter::kMaxIntervalMs / 1000.0);
    intervalBox->setSuffix(QStringLiteral(" 秒"));
    intervalBox->setValue(CBurstShooter::RememberedIntervalMs() / 1000.0);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QFormLayout(this);
    layout->addRow(QStringLiteral("张数："), countBox);
    layout->addRow(QStringLiteral("间隔："), intervalBox);
    layout->addRow(buttons);
}

void CBurstDialog::accept()
{
    CBurstShooter::Remember(countBox->value(), static_cast<int>(std::lround(intervalBox->value() * 1000)));
    QDialog::accept();
}
