#pragma once
// The Options dialog "设置": three pages whose every change is stored in
// `settings` and saved to setting.ini at once. OK and Cancel only close it.

#include <QDialog>
#include <QWidget>
#include <functional>
#include <string>

class QButtonGroup;
class QCheckBox;
class QDialogButtonBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QShowEvent;
class QTabWidget;

// Page "视频文件": the recording target.
class CMyPropertyPage1 : public QWidget {
    Q_OBJECT
public:
    explicit CMyPropertyPage1(QWidget* parent = nullptr);
    bool IsLoaded() const { return loaded; }

    QLineEdit* pathEdit;
    QPushButton* saveAsButton;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnInitDialog();
    void OnSaveAs();

    QString m_strVideoPath;
    bool loaded = false;
};

// Page "照片": the photo folder and format.
class CMyPropertyPage2 : public QWidget {
    Q_OBJECT
public:
    explicit CMyPropertyPage2(QWidget* parent = nullptr);
    bool IsLoaded() const { return loaded; }

    QLineEdit* folderEdit;
    QPushButton* browseButton;
    QRadioButton* namingRadio;
    QRadioButton* bmpRadio;
    QRadioButton* jpgRadio;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnInitDialog();
    void OnBrowse();
    void OnFormatBmp();
    void OnFormatJpg();
    void StoreFormat(int format);
    void ShowFormat();

    QString m_strPhotoFolder;
    int m_nNaming = 0;
    int m_nFormat = 0;
    QButtonGroup* namingGroup;
    QButtonGroup* formatGroup;
    bool loaded = false;
};

// Page "其他": whether each take gets a file of its own.
class CMyPropertyPage3 : public QWidget {
    Q_OBJECT
public:
    explicit CMyPropertyPage3(QWidget* parent = nullptr);

    QCheckBox* newFileEachTake;
};

// "每次录相使用新的文件名", kept in the program's profile (off: each take
// overwrites the recording file). Remembering it also tells the capture
// session, which names the takes.
bool NewFileEachTakeRemembered();
void RememberNewFileEachTake(bool on);

class CMyPropertySheet : public QDialog {
    Q_OBJECT
public:
    explicit CMyPropertySheet(QWidget* parent = nullptr);
    ~CMyPropertySheet() override;

    QTabWidget* tabs;
    CMyPropertyPage1* page1;
    CMyPropertyPage2* page2;
    CMyPropertyPage3* page3;
    QDialogButtonBox* buttons;

private:
    // A failed save is shown in a message box while the sheet is open.
    std::function<void(const std::string&)> previousErrorHandler;
};

// The frame's "选项" command: shows the sheet modally; the result is ignored.
void OpenOptionsDialog(QWidget* parent);
