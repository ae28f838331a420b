#include "res/Resources.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include <cmath>

// ---------------------------------------------------------------------------
// Menus, accelerators, toolbar and strings

const std::vector<PopupEntry>& MainMenuResource()
{
    static const std::vector<PopupEntry> menu = {
        {QStringLiteral("文件(&F)"),
         {
             {QStringLiteral("打开(&O)...\tCtrl+O"), ID_FILE_OPEN},
             {QStringLiteral("保存(&S)\tCtrl+S"), ID_FILE_SAVE},
             {QStringLiteral("另存为(&A)..."), ID_FILE_SAVE_AS},
             {QString(), ID_SEPARATOR},
             {QStringLiteral("退出(&X)"), ID_APP_EXIT},
         }},
        {QStringLiteral("视频(&C)"),
         {
             {QStringLiteral("开始视频"), ID_VIDEO_START},
             {QString(), ID_SEPARATOR},
             {QStringLiteral("录相"), ID_VIDEO_RECORD},
             {QStringLiteral("暂停"), ID_VIDEO_PAUSE},
             {QStringLiteral("停止"), ID_VIDEO_STOP},
             {QString(), ID_SEPARATOR},
             // Eight blanks and no tab: the key text stays in the label column.
             {QStringLiteral("拍照        Space"), ID_VIDEO_SNAPSHOT},
             {QStringLiteral("拍照 (3 秒后)"), ID_VIDEO_SNAPSHOT_TIMER},
             {QStringLiteral("连拍"), ID_VIDEO_BURST},
             {QStringLiteral("连拍设置..."), ID_VIDEO_BURST_SETTINGS},
             {QString(), ID_SEPARATOR},
             {QStringLiteral("打开照片文件夹"), ID_VIDEO_OPEN_PHOTO_FOLDER},
             {QStringLiteral("打开录相文件夹"), ID_VIDEO_OPEN_RECORDING_FOLDER},
             {QString(), ID_SEPARATOR},
             {QStringLiteral("视频设备..."), ID_VIDEO_DEVICES},
             {QStringLiteral("摄像头设置..."), ID_VIDEO_CAMERA_SETTINGS},
         }},
        {QStringLiteral("查看(&V)"),
         {
             {QStringLiteral("工具栏(&T)"), ID_VIEW_TOOLBAR},
             {QStringLiteral("状态栏(&S)"), ID_VIEW_STATUS_BAR},
             {QString(), ID_SEPARATOR},
             {QStringLiteral("镜像"), ID_VIEW_MIRROR},
             {QStringLiteral("旋转"),
              ID_VIEW_ROTATE,
              {
                  {QStringLiteral("0°"), ID_VIEW_ROTATE_0},
                  {QStringLiteral("90°"), ID_VIEW_ROTATE_90},
                  {QStringLiteral("180°"), ID_VIEW_ROTATE_180},
                  {QStringLiteral("270°"), ID_VIEW_ROTATE_270},
              }},
             {QString(), ID_SEPARATOR},
             {QStringLiteral("选项"), ID_VIEW_OPTIONS},
         }},
        {QStringLiteral("视窗(&W)"),
         {
             {QStringLiteral("最小模式"), ID_WINDOW_MINIMAL},
             {QStringLiteral("兼容模式"), ID_WINDOW_COMPATIBLE},
             {QStringLiteral("全屏显示\tF11"), ID_WINDOW_FULLSCREEN},
         }},
        {QStringLiteral("帮助(&H)"),
         {
             {QStringLiteral("使用说明"), ID_HELP_README},
             {QStringLiteral("进入作者主页，了解更多相关信息"), ID_HELP_HOMEPAGE},
             {QString(), ID_SEPARATOR},
             {QStringLiteral("关于 Lumora(&A)..."), ID_APP_ABOUT},
         }},
    };
    return menu;
}

const PopupEntry& ViewPopupResource()
{
    static const PopupEntry popup = {
        QStringLiteral("popup"),
        {
            {QStringLiteral("最小模式"), ID_POPUP_MINIMAL},
            {QStringLiteral("兼容模式"), ID_POPUP_COMPATIBLE},
            {QStringLiteral("全屏显示"), ID_POPUP_FULLSCREEN},
        }};
    return popup;
}

const std::vector<AcceleratorEntry>& AcceleratorResource()
{
    static const std::vector<AcceleratorEntry> table = {
        {QKeySequence(Qt::CTRL | Qt::Key_O), ID_FILE_OPEN},
        {QKeySequence(Qt::CTRL | Qt::Key_P), ID_FILE_PRINT},
        {QKeySequence(Qt::CTRL | Qt::Key_S), ID_FILE_SAVE},
        {QKeySequence(Qt::CTRL | Qt::Key_V), ID_EDIT_PASTE},
        {QKeySequence(Qt::ALT | Qt::Key_Backspace), ID_EDIT_UNDO},
        {QKeySequence(Qt::SHIFT | Qt::Key_Delete), ID_EDIT_CUT},
        {QKeySequence(Qt::Key_F6), ID_NEXT_PANE},
        {QKeySequence(Qt::SHIFT | Qt::Key_F6), ID_PREV_PANE},
        {QKeySequence(Qt::CTRL | Qt::Key_Insert), ID_EDIT_COPY},
        {QKeySequence(Qt::SHIFT | Qt::Key_Insert), ID_EDIT_PASTE},
        {QKeySequence(Qt::Key_Space), ID_VIDEO_SNAPSHOT},
        {QKeySequence(Qt::CTRL | Qt::Key_X), ID_EDIT_CUT},
        {QKeySequence(Qt::CTRL | Qt::Key_Z), ID_EDIT_UNDO},
    };
    return table;
}

const std::vector<int>& ToolbarResource()
{
    static const std::vector<int> buttons = {
        ID_VIDEO_START, ID_VIDEO_RECORD,  ID_VIDEO_PAUSE, ID_VIDEO_STOP,
        ID_VIDEO_SNAPSHOT, ID_VIEW_OPTIONS, ID_APP_ABOUT,
    };
    return buttons;
}

CommandString CommandStringFor(int id)
{
    // prompt, tooltip; ids not listed have no string.
    static const QHash<int, std::pair<QString, QString>> strings = {
        {ID_FILE_OPEN, {QStringLiteral("打开一个现有文档"), QStringLiteral("打开")}},
        {ID_FILE_SAVE, {QStringLiteral("保存活动文档"), QStringLiteral("保存")}},
        {ID_FILE_SAVE_AS, {QStringLiteral("将活动文档以一个新文件名保存"), QStringLiteral("另存为")}},
        {ID_APP_EXIT, {QStringLiteral("退出应用程序；提示保存文档"), QStringLiteral("退出")}},
        {ID_VIDEO_START, {QStringLiteral("开始视频"), QStringLiteral("开始视频")}},
        {ID_VIDEO_RECORD, {QStringLiteral("开始录相"), QStringLiteral("开始录相")}},
        {ID_VIDEO_PAUSE, {QStringLiteral("暂停"), QStringLiteral("暂停")}},
        {ID_VIDEO_STOP, {QStringLiteral("停止"), QStringLiteral("停止")}},
        {ID_VIDEO_SNAPSHOT, {QStringLiteral("拍照"), QStringLiteral("拍照")}},
        {ID_VIDEO_SNAPSHOT_TIMER, {QStringLiteral("倒数 3 秒后拍照，按 Esc 取消"), QStringLiteral("定时拍照")}},
        {ID_VIDEO_BURST, {QStringLiteral("按“连拍设置”的张数和间隔连续拍照，按 Esc 停止"), QStringLiteral("连拍")}},
        {ID_VIDEO_BURST_SETTINGS, {QStringLiteral("设置连拍的张数和间隔"), QStringLiteral("连拍设置")}},
        {ID_VIDEO_OPEN_PHOTO_FOLDER,
         {QStringLiteral("在文件管理器中打开存放照片的文件夹"), QStringLiteral("打开照片文件夹")}},
        {ID_VIDEO_OPEN_RECORDING_FOLDER,
         {QStringLiteral("在文件管理器中打开录相文件所在的文件夹"), QStringLiteral("打开录相文件夹")}},
        {ID_VIDEO_DEVICES,
         {QStringLiteral("重新选择摄像头、画面格式、压缩器和声音输入"), QStringLiteral("视频设备")}},
        {ID_VIDEO_CAMERA_SETTINGS,
         {QStringLiteral("调整摄像头的亮度、对比度、白平衡、曝光和对焦"), QStringLiteral("摄像头设置")}},
        {ID_VIEW_TOOLBAR, {QStringLiteral("显示或隐藏工具栏"), QStringLiteral("显隐工具栏")}},
        {ID_VIEW_STATUS_BAR, {QStringLiteral("显示或隐藏状态栏"), QStringLiteral("显隐状态栏")}},
        {ID_VIEW_OPTIONS, {QStringLiteral("选项"), QStringLiteral("选项")}},
        {ID_VIEW_MIRROR, {QStringLiteral("左右翻转预览画面，如照镜子；照片和录相不受影响"), QStringLiteral("镜像")}},
        {ID_VIEW_ROTATE,
         {QStringLiteral("摄像头倒装或侧装时旋转画面，预览、照片和录相一同旋转"), QStringLiteral("旋转")}},
        {ID_VIEW_ROTATE_0, {QStringLiteral("画面不旋转"), QStringLiteral("旋转 0°")}},
        {ID_VIEW_ROTATE_90, {QStringLiteral("画面顺时针旋转 90°"), QStringLiteral("旋转 90°")}},
        {ID_VIEW_ROTATE_180, {QStringLiteral("画面旋转 180°"), QStringLiteral("旋转 180°")}},
        {ID_VIEW_ROTATE_270, {QStringLiteral("画面顺时针旋转 270°"), QStringLiteral("旋转 270°")}},
        {ID_WINDOW_MINIMAL, {QStringLiteral("把窗口缩到最小，画面随之缩小"), QStringLiteral("最小模式")}},
        {ID_WINDOW_COMPATIBLE, {QStringLiteral("让窗口适合画面的原始大小"), QStringLiteral("兼容模式")}},
        {ID_WINDOW_FULLSCREEN, {QStringLiteral("全屏显示画面，按 Esc 退出"), QStringLiteral("全屏显示")}},
        {ID_POPUP_MINIMAL, {QStringLiteral("最小模式"), QStringLiteral("最小模式")}},
        {ID_POPUP_COMPATIBLE, {QStringLiteral("兼容模式"), QStringLiteral("兼容模式")}},
        {ID_POPUP_FULLSCREEN, {QStringLiteral("全屏显示"), QStringLiteral("全屏显示")}},
        {ID_APP_ABOUT, {QStringLiteral("显示程序信息，版本号和版权"), QStringLiteral("关于")}},
    };
    const auto found = strings.constFind(id);
    if (found == strings.constEnd())
        return {};
    return {found->first, found->second, true};
}

QString IdleMessage() { return QStringLiteral("就绪"); }
QString ApplicationTitle() { return QStringLiteral("Lumora"); }
QString NoVideoDeviceMessage() { return QStringLiteral("没有找到视频输入设备"); }

QString HomepageUrl() { return QStringLiteral("https://lumora.example.org/"); }

// ---------------------------------------------------------------------------
// Pictures, drawn here so that the repository holds no binary images.

namespace {

// The classic 16-colour palette; the toolbar strip uses only these.
const QColor kBlack(0, 0, 0);
const QColor kMaroon(128, 0, 0);
const QColor kGreen(0, 128, 0);
const QColor kNavy(0, 0, 128);
const QColor kGray(128, 128, 128);
const QColor kSilver(192, 192, 192);
const QColor kRed(255, 0, 0);
const QColor kLime(0, 255, 0);
const QColor kYellow(255, 255, 0);
const QColor kBlue(0, 0, 255);
const QColor kWhite(255, 255, 255);
const QColor kTeal(0, 128, 128);

void DrawStart(QPainter& p)
{
    QPainterPath triangle;
    triangle.moveTo(6, 4);
    triangle.lineTo(16, 10);
    triangle.lineTo(6, 16);
    triangle.closeSubpath();
    p.setPen(kBlack);
    p.setBrush(kGreen);
    p.drawPath(triangle);
    p.setPen(Qt::NoPen);
    p.setBrush(kLime);
    p.drawRect(7, 7, 2, 5);
}

void DrawRecord(QPainter& p)
{
    p.setPen(kMaroon);
    p.setBrush(kRed);
    p.drawEllipse(4, 4, 12, 12);
    p.setPen(Qt::NoPen);
    p.setBrush(kWhite);
    p.drawRect(7, 7, 2, 2);
}

void DrawPause(QPainter& p)
{
    p.setPen(kBlack);
    p.setBrush(kNavy);
    p.drawRect(5, 4, 3, 12);
    p.drawRect(12, 4, 3, 12);
}

void DrawStop(QPainter& p)
{
    p.setPen(kBlack);
    p.setBrush(kMaroon);
    p.drawRect(5, 5, 10, 10);
}

void DrawPhoto(QPainter& p)
{
    p.setPen(kBlack);
    p.setBrush(kGray);
    p.drawRect(2, 6, 16, 10);
    p.drawRect(6, 4, 5, 2);
    p.setBrush(kSilver);
    p.drawEllipse(6, 7, 8, 8);
    p.setBrush(kNavy);
    p.drawEllipse(8, 9, 4, 4);
    p.setPen(Qt::NoPen);
    p.setBrush(kYellow);
    p.drawRect(15, 7, 2, 2);
}

void DrawOptions(QPainter& p)
{
    // Three sliders.
    p.setPen(kBlack);
    for (int row = 0; row < 3; ++row) {
        const int y = 5 + row * 5;
        p.drawLine(3, y, 16, y);
    }
    p.setBrush(kTeal);
    p.drawRect(5, 3, 3, 4);
    p.drawRect(11, 8, 3, 4);
    p.drawRect(7, 13, 3, 4);
}

void DrawAbout(QPainter& p)
{
    p.setPen(kNavy);
    p.setBrush(kBlue);
    p.drawEllipse(3, 3, 14, 14);
    p.setPen(Qt::NoPen);
    p.setBrush(kWhite);
    p.drawRect(9, 5, 2, 2);
    p.drawRect(9, 8, 2, 7);
}

}  // namespace

QImage ToolbarBitmap()
{
    static const QImage strip = [] {
        QImage image(140, 20, QImage::Format_RGB888);
        image.fill(kSilver);
        QPainter p(&image);
        // No antialiasing: the strip keeps to the 16 palette colours.
        p.setRenderHint(QPainter::Antialiasing, false);
        using Draw = void (*)(QPainter&);
        const Draw pictures[] = {DrawStart, DrawRecord, DrawPause, DrawStop,
                                 DrawPhoto, DrawOptions, DrawAbout};
        for (int i = 0; i < 7; ++i) {
            p.save();
            p.translate(i * 20, 0);
            p.setClipRect(0, 0, 20, 20);
            pictures[i](p);
            p.restore();
        }
        p.end();
        return image;
    }();
    return strip;
}

QIcon ToolbarIcon(int buttonIndex)
{
    if (buttonIndex < 0 || buttonIndex >= 7)
        return QIcon();
    QImage picture = ToolbarBitmap().copy(buttonIndex * 20, 0, 20, 20).convertToFormat(QImage::Format_ARGB32);
    // The button face colour is the transparent one, as toolbars always did.
    const QRgb face = kSilver.rgb();
    for (int y = 0; y < picture.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            if ((line[x] & 0xFFFFFF) == (face & 0xFFFFFF))
                line[x] = 0;
        }
    }
    return QIcon(QPixmap::fromImage(picture));
}

namespace {

QImage LensPicture(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    const qreal s = size;
    const QPointF centre(s / 2, s / 2);
    // Barrel ring.
    QRadialGradient barrel(centre, s / 2);
    barrel.setColorAt(0.0, QColor(90, 90, 100));
    barrel.setColorAt(0.85, QColor(40, 40, 48));
    barrel.setColorAt(1.0, QColor(20, 20, 24));
    p.setPen(QPen(QColor(10, 10, 12), s / 32));
    p.setBrush(barrel);
    p.drawEllipse(centre, s / 2 - s / 32, s / 2 - s / 32);
    // Glass.
    QRadialGradient glass(centre - QPointF(s / 10, s / 10), s / 3);
    glass.setColorAt(0.0, QColor(120, 170, 255));
    glass.setColorAt(0.6, QColor(30, 60, 150));
    glass.setColorAt(1.0, QColor(10, 20, 60));
    p.setPen(QPen(QColor(150, 150, 160), s / 40));
    p.setBrush(glass);
    p.drawEllipse(centre, s / 3, s / 3);
    // Pupil and highlight.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(5, 10, 30));
    p.drawEllipse(centre, s / 8, s / 8);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawEllipse(centre + QPointF(-s / 7, -s / 7), s / 14, s / 14);
    p.end();
    return image;
}

}  // namespace

QIcon ApplicationIcon()
{
    static const QIcon icon = [] {
        QIcon result;
        for (int size : {16, 32, 48, 64, 128})
            result.addPixmap(QPixmap::fromImage(LensPicture(size)));
        return result;
    }();
    return icon;
}

QImage ApplicationIconPicture(int size)
{
    return LensPicture(size);
}

QImage BackgroundBitmap()
{
    static const QImage picture = [] {
        constexpr int width = 300;
        constexpr int height = 246;
        QImage image(width, height, QImage::Format_RGB888);
        // A soft diagonal wash whose terms are periodic in the picture size,
        // so that tiles meet without a seam.
        for (int y = 0; y < height; ++y) {
            uchar* line = image.scanLine(y);
            for (int x = 0; x < width; ++x) {
                const double u = 2.0 * M_PI * x / width;
                const double v = 2.0 * M_PI * y / height;
                const double wave = 0.5 + 0.25 * std::cos(u) + 0.25 * std::cos(v);
                line[x * 3 + 0] = static_cast<uchar>(36 + 24 * wave);
                line[x * 3 + 1] = static_cast<uchar>(44 + 30 * wave);
                line[x * 3 + 2] = static_cast<uchar>(70 + 50 * wave);
            }
        }
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing, true);
        // One strip of film perforations along the top edge; the hole pitch
        // divides the width, so the strip runs on across tiles.
        constexpr int strip = 18;
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(20, 24, 36));
        p.drawRect(0, 0, width, strip);
        p.setBrush(QColor(120, 130, 160));
        for (int x = 6; x < width; x += 25)
            p.drawRoundedRect(QRectF(x, 5, 12, 8), 2, 2);
        // A faint lens in the middle of the picture area below the strip.
        const QPointF centre(width / 2.0, strip + (height - strip) / 2.0);
        p.setBrush(Qt::NoBrush);
        for (int ring = 0; ring < 4; ++ring) {
            p.setPen(QPen(QColor(255, 255, 255, 22 - ring * 4), 2));
            p.drawEllipse(centre, 36.0 + ring * 16, 36.0 + ring * 16);
        }
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 18));
        p.drawEllipse(centre, 24.0, 24.0);
        p.end();
        return image;
    }();
    return picture;
}
