#pragma once
// The program's own file and folder dialogs. Each sets the current directory
// back to appDirectory before it returns, whatever the outcome, so that names
// opened relative to it (temp.bmp, CAMERA.WAV) still resolve in the start
// directory. Tests replace the modal dialogs with hooks.

#include <QString>
#include <functional>
#include <optional>

#include "base/RecordingContainer.h"

class QWidget;

// The "保存为..." dialog for a recording target: filters "视频文件(*.avi
// *.mkv *.mp4)" and one for each of the three, overwrite prompt, suffix
// ".avi" (or the chosen filter's) added when none is typed. `container`
// preselects its own filter and suffix.
// Returns the chosen full path, or an empty string when cancelled.
QString AskVideoSavePath(QWidget* parent, std::optional<MediaSubtype> container = std::nullopt);

// The folder chooser "请选择一个文件夹!". Returns the folder's path without a
// trailing '/' (except the root), or an empty string when cancelled.
QString AskPhotoFolder(QWidget* parent);

// A hook answers instead of the dialog (empty string = cancelled); nullptr
// restores the dialog. Each returns the previous hook.
using PathDialogHook = std::function<QString()>;
PathDialogHook SetVideoSavePathHook(PathDialogHook hook);
PathDialogHook SetFolderChooserHook(PathDialogHook hook);

// Sets the process's current directory back to appDirectory.
void RestoreCurrentDirectory();
