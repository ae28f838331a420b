#include "res/RuntimeFiles.h"

#include <QFileInfo>

#include "settings/SettingsRecord.h"

#ifndef LUMORA_DATA_DIR
#define LUMORA_DATA_DIR "/usr/local/share/lumora"
#endif

QString InstalledDataDirectory()
{
    return QStringLiteral(LUMORA_DATA_DIR);
}

QString RuntimeFilePath(const QString& name)
{
    const QString local = QString::fromStdString(appDirectory) + '/' + name;
    if (QFileInfo::exists(local)) return local;
    // Started from the desktop menu, the start directory is the user's home:
    // the shutter sound and the read-me come from the installation.
    const QString installed = InstalledDataDirectory() + '/' + name;
    return QFileInfo(installed).isFile() ? installed : local;
}
