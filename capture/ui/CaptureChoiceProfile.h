#pragma once
// What the device dialog remembers between runs, in the program's own
// profile (not in setting.ini): the picture mode last chosen for each camera,
// the sound input and the compressors.

#include <QString>
#include <optional>
#include <string>

#include "capture/CapturePlatform.h"

namespace CaptureChoiceProfile {

// The sound input as the dialog names it: kDefaultMicrophone (the system's
// default input), kNoMicrophone ("无声音"), or a device's identity.
inline const QString kDefaultMicrophone = QStringLiteral("default");
inline const QString kNoMicrophone = QStringLiteral("none");

// nullopt: 自动 (nothing remembered for this camera, "auto", or a text that
// no longer reads as a mode).
std::optional<VideoMode> VideoModeFor(const std::string& cameraPath);
void RememberVideoMode(const std::string& cameraPath, const std::optional<VideoMode>& mode);

// kDefaultMicrophone when nothing is remembered.
QString Microphone();
void RememberMicrophone(const QString& microphone);

// The video and audio compressor last chosen, by the name the dialog lists;
// "" for "不压缩" (also when nothing is remembered).
QString Compressor(DeviceCategory category);
void RememberCompressor(DeviceCategory category, const QString& name);

// A device identity as a profile key: QSettings reads '/' and '\' in a key
// as group separators, so they and anything unusual are percent-encoded.
QString KeyOf(const std::string& devicePath);

}  // namespace CaptureChoiceProfile
