#include "capture/ui/CameraControlsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include "capture/CaptureSession.h"
#include "capture/ui/CameraControlsProfile.h"

namespace {

constexpr int kSliderWidth = 220;

QString Text(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

CCameraControlsDialog::CCameraControlsDialog(CCaptureSession& captureSession, QWidget* parent)
    : QDialog(parent), session(captureSession)
{
    setWindowTitle(QStringLiteral("摄像头设置"));
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    rowsArea = new QWidget(this);
    grid = new QGridLayout(rowsArea);
    grid->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(rowsArea);
    notice = new QLabel(this);
    notice->setWordWrap(true);
    layout->addWidget(notice);
    auto* buttons = new QDialogButtonBox(this);
    defaultsButton = buttons->addButton(QStringLiteral("恢复默认"), QDialogButtonBox::ResetRole);
    QPushButton* close = buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole);
    // Return closes; it never puts back every setting by accident.
    defaultsButton->setAutoDefault(false);
    close->setDefault(true);
    connect(defaultsButton, &QPushButton::clicked, this, [this] { RestoreDefaults(); });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
    layout->addWidget(buttons);
    Refresh();
}

void CCameraControlsDialog::ClearRows()
{
    rows.clear();
    order.clear();
    // Later: a refresh may come from a signal of one of these widgets.
    while (QLayoutItem* item = grid->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
}

void CCameraControlsDialog::Refresh()
{
    ClearRows();
    std::vector<CameraControl> controls;
    std::string error;
    const bool listed = session.ListCameraControls(controls, error);
    for (const CameraControl& control : controls) AddRow(control, static_cast<int>(order.size()));
    if (!listed)
        notice->setText(Text(error));
    else if (controls.empty())
        notice->setText(QStringLiteral("这个摄像头没有可调的设置。"));
    else
        notice->clear();
    defaultsButton->setEnabled(!controls.empty());
    if (!order.empty()) EditorFor(order.front())->setFocus();  // the keys move the first setting
    adjustSize();
}

void CCameraControlsDialog::AddRow(const CameraControl& control, int line)
{
    Row row;
    row.control = control;
    row.name = new QLabel(Text(control.name), rowsArea);
    grid->addWidget(row.name, line, 0);
    const std::string key = control.key;
    switch (control.type) {
    case CameraControl::Type::Integer:
        row.slider = new QSlider(Qt::Horizontal, rowsArea);
        row.slider->setRange(control.minimum, control.maximum);
        row.slider->setSingleStep(std::max(control.step, 1));
        row.slider->setPageStep(std::max(control.step, (control.maximum - control.minimum) / 10));
        row.slider->setMinimumWidth(kSliderWidth);
        row.value = new QLabel(rowsArea);
        row.value->setMinimumWidth(row.value->fontMetrics().horizontalAdvance(QStringLiteral("-000000")));
        grid->addWidget(row.slider, line, 1);
        grid->addWidget(row.value, line, 2);
        connect(row.slider, &QSlider::valueChanged, this, [this, key](int value) { Changed(key, value); });
        break;
    case CameraControl::Type::Boolean:
        row.check = new QCheckBox(rowsArea);
        grid->addWidget(row.check, line, 1, 1, 2);
        connect(row.check, &QCheckBox::toggled, this, [this, key](bool on) { Changed(key, on ? 1 : 0); });
        break;
    case CameraControl::Type::Menu:
        row.list = new QComboBox(rowsArea);
        for (const CameraControl::MenuEntry& entry : control.menu) row.list->addItem(Text(entry.name), entry.value);
        grid->addWidget(row.list, line, 1, 1, 2);
        connect(row.list, &QComboBox::activated, this,
                [this, key](int index) { Changed(key, rows[key].list->itemData(index).toInt()); });
        break;
    }
    order.push_back(key);
    ShowRow(rows[key] = row);
}

// The widgets as the control is, without telling the camera again.
void CCameraControlsDialog::ShowRow(Row& row)
{
    const CameraControl& control = row.control;
    const bool enabled = !control.inactive;
    row.name->setEnabled(enabled);
    if (row.slider) {
        const QSignalBlocker quiet(row.slider);
        row.slider->setValue(control.value);
        row.slider->setEnabled(enabled);
        row.value->setText(QString::number(control.value));
        row.value->setEnabled(enabled);
    } else if (row.check) {
        const QSignalBlocker quiet(row.check);
        row.check->setChecked(control.value != 0);
        row.check->setEnabled(enabled);
    } else if (row.list) {
        const QSignalBlocker quiet(row.list);
        row.list->setCurrentIndex(row.list->findData(control.value));
        row.list->setEnabled(enabled);
    }
}

void CCameraControlsDialog::Changed(const std::string& key, int32_t value)
{
    const auto it = rows.find(key);
    if (it == rows.end()) return;
    const CameraControl& control = it->second.control;
    // A slider between two steps takes the nearer one.
    if (control.type == CameraControl::Type::Integer && control.step > 1)
        value = control.minimum + (value - control.minimum + control.step / 2) / control.step * control.step;
    std::string error;
    if (session.SetCameraControl(control.id, value, error)) {
        CameraControlsProfile::Remember(session.CurrentCameraIdentity(), key, value);
        notice->clear();
    } else {
        notice->setText(Text(error));
    }
    UpdateRows();
}

void CCameraControlsDialog::UpdateRows()
{
    std::vector<CameraControl> controls;
    std::string error;
    if (!session.ListCameraControls(controls, error)) {
        Refresh();  // the camera went away: say why
        return;
    }
    for (const CameraControl& control : controls) {
        const auto it = rows.find(control.key);
        if (it == rows.end()) continue;
        it->second.control = control;
        ShowRow(it->second);
    }
}

void CCameraControlsDialog::RestoreDefaults()
{
    CameraControlsProfile::Values defaults;
    for (const std::string& key : order) defaults.emplace_back(key, rows[key].control.defaultValue);
    const std::vector<std::string> refused = session.ApplyCameraControlValues(defaults);
    CameraControlsProfile::Forget(session.CurrentCameraIdentity());
    notice->setText(refused.empty() ? QString() : Text(refused.front()));
    UpdateRows();
}

QWidget* CCameraControlsDialog::EditorFor(const std::string& key) const
{
    const auto it = rows.find(key);
    if (it == rows.end()) return nullptr;
    const Row& row = it->second;
    if (row.slider) return row.slider;
    if (row.check) return row.check;
    return row.list;
}

QLabel* CCameraControlsDialog::ValueLabelFor(const std::string& key) const
{
    const auto it = rows.find(key);
    return it == rows.end() ? nullptr : it->second.value;
}
