#pragma once
// The three settings and their on-disk image: "setting.ini" holds the 524 bytes
// of SettingsRecord exactly as they lie in memory (little-endian, no header).

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

constexpr std::size_t kPathBufferSize = 260;  // a path: at most 259 bytes and its NUL

struct SettingsRecord {
    char videoFilePath[kPathBufferSize];  // the AVI that a recording writes (UTF-8)
    char photoFolder[kPathBufferSize];    // folder that receives the photos (UTF-8, no trailing '/')
    int32_t photoFormat;                  // 0 = BMP, anything else = JPEG
};

static_assert(sizeof(SettingsRecord) == 524, "setting.ini is a 524-byte record");
static_assert(offsetof(SettingsRecord, videoFilePath) == 0);
static_assert(offsetof(SettingsRecord, photoFolder) == 260);
static_assert(offsetof(SettingsRecord, photoFormat) == 520);

// The one record of the process; all zero until LoadSettings.
extern SettingsRecord settings;

// The start directory: the current directory when the main frame is constructed,
// without a trailing '/' (except for the root "/"). Never changed afterwards.
extern std::string appDirectory;

// Guards `settings` between the UI thread (Options dialog) and the streaming
// thread (snapshot writer reads photoFolder/photoFormat).
std::mutex& SettingsMutex();
