#pragma once
// 摄像头设置: the settings the camera of the current preview offers, one row
// each (a slider with its value, a check box, or a list), greyed while the
// camera ignores them. A change goes to the camera at once and is
// remembered for that camera; 恢复默认 puts back the camera's defaults.
// Modeless: the preview stays usable while it is open.

#include <QDialog>

#include <map>
#include <string>
#include <vector>

#include "capture/CameraControls.h"

class CCaptureSession;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QPushButton;
class QSlider;

class CCameraControlsDialog : public QDialog {
    Q_OBJECT
public:
    explicit CCameraControlsDialog(CCaptureSession& session, QWidget* parent = nullptr);

    // Rows made afresh from the camera's list (another camera, or none).
    void Refresh();

    // The widget that edits the control `key` (a QSlider, QCheckBox or
    // QComboBox); nullptr when the camera has no such control.
    QWidget* EditorFor(const std::string& key) const;
    QLabel* ValueLabelFor(const std::string& key) const;
    QLabel* Notice() const { return notice; }
    QPushButton* DefaultsButton() const { return defaultsButton; }

private:
    struct Row {
        CameraControl control;
        QLabel* name = nullptr;
        QSlider* slider = nullptr;
        QLabel* value = nullptr;
        QCheckBox* check = nullptr;
        QComboBox* list = nullptr;
    };
    void AddRow(const CameraControl& control, int line);
    void Changed(const std::string& key, int32_t value);
    // Values and inactive flags read again (a switch frees or holds others).
    void UpdateRows();
    void ShowRow(Row& row);
    void RestoreDefaults();
    void ClearRows();

    CCaptureSession& session;
    QWidget* rowsArea = nullptr;
    QGridLayout* grid = nullptr;
    QLabel* notice = nullptr;
    QPushButton* defaultsButton = nullptr;
    std::map<std::string, Row> rows;
    std::vector<std::string> order;  // keys as the camera lists them
};
