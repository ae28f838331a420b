#include "capture/ui/CaptureChoiceProfile.h"

#include <QSettings>
#include <QUrl>

#include "app/Profile.h"
#include "capture/VideoModes.h"

namespace CaptureChoiceProfile {

namespace {

const QString kModeGroup = QStringLiteral("Video Modes");
const QString kSoundKey = QStringLiteral("Sound Input/Device");
const QString kAutoMode = QStringLiteral("auto");

QString CompressorKey(DeviceCategory category)
{
    return category == DeviceCategory::AudioCompressor ? QStringLiteral("Compressors/Audio")
                                                       : QStringLiteral("Compressors/Video");
}

}  // namespace

QString KeyOf(const std::string& devicePath)
{
    const QByteArray raw(devicePath.data(), static_cast<qsizetype>(devicePath.size()));
    return QString::fromLatin1(QUrl::toPercentEncoding(QString::fromUtf8(raw)));
}

std::optional<VideoMode> VideoModeFor(const std::string& cameraPath)
{
    if (cameraPath.empty()) return std::nullopt;
    const auto profile = OpenProfile(QString());
    profile->beginGroup(kModeGroup);
    const QString text = profile->value(KeyOf(cameraPath)).toString();
    if (text.isEmpty() || text == kAutoMode) return std::nullopt;
    return VideoModeFromText(text.toStdString());
}

void RememberVideoMode(const std::string& cameraPath, const std::optional<VideoMode>& mode)
{
    if (cameraPath.empty()) return;
    const auto profile = OpenProfile(QString());
    profile->beginGroup(kModeGroup);
    profile->setValue(KeyOf(cameraPath), mode ? QString::fromStdString(VideoModeToText(*mode)) : kAutoMode);
    profile->endGroup();
    profile->sync();
}

QString Microphone()
{
    const QString value = OpenProfile(QString())->value(kSoundKey).toString();
    return value.isEmpty() ? kDefaultMicrophone : value;
}

void RememberMicrophone(const QString& microphone)
{
    const auto profile = OpenProfile(QString());
    profile->setValue(kSoundKey, microphone.isEmpty() ? kDefaultMicrophone : microphone);
    profile->sync();
}

QString Compressor(DeviceCategory category)
{
    return OpenProfile(QString())->value(CompressorKey(category)).toString();
}

void RememberCompressor(DeviceCategory category, const QString& name)
{
    const auto profile = OpenProfile(QString());
    profile->setValue(CompressorKey(category), name);
    profile->sync();
}

}  // namespace CaptureChoiceProfile
