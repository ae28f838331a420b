#pragma once
// The command resources: main menu (128), context menu (132), accelerator
// table (128), toolbar (128), prompt/tooltip strings, and the pictures and
// sounds the shell uses. The frame and the view build their menus from these
// tables; nothing else spells a label or a prompt.

#include <QIcon>
#include <QImage>
#include <QKeySequence>
#include <QPixmap>
#include <QString>
#include <vector>

#include "res/CommandIds.h"

struct MenuEntry {
    QString label;  // "\t" puts the accelerator text in the right-hand column
    int id = ID_SEPARATOR;  // ID_SEPARATOR: a separator line
    // Not empty: the entry opens a submenu of these (`id` names the submenu).
    std::vector<MenuEntry> items = {};
};

struct PopupEntry {
    QString title;
    std::vector<MenuEntry> items;
};

struct AcceleratorEntry {
    QKeySequence keys;
    int id;
};

struct CommandString {
    QString prompt;   // status-bar text while the item is highlighted
    QString tooltip;  // toolbar tooltip
    bool exists = false;  // false: the id has no string
};

const std::vector<PopupEntry>& MainMenuResource();        // resource 128
const PopupEntry& ViewPopupResource();                     // resource 132, popup "popup"
const std::vector<AcceleratorEntry>& AcceleratorResource();  // 13 entries, in table order
const std::vector<int>& ToolbarResource();                 // 7 button ids, left to right
CommandString CommandStringFor(int id);
QString IdleMessage();       // "就绪"
QString NoVideoDeviceMessage();  // "没有找到视频输入设备"
QString ApplicationTitle();  // "Lumora"

QImage ToolbarBitmap();            // 140 x 20, seven 20 x 20 pictures
QIcon ToolbarIcon(int buttonIndex);
QIcon ApplicationIcon();           // icon 128
QImage ApplicationIconPicture(int size);  // icon 128 drawn at size x size (desktop icons)
QImage BackgroundBitmap();         // bitmap 130, 300 x 246, 24 bits

// The maker's web page opened by the help command.
QString HomepageUrl();
