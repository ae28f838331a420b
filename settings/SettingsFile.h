#pragma once
// Reading and writing "setting.ini" in appDirectory.

#include <functional>
#include <string>

#include "settings/SettingsRecord.h"

// appDirectory + "/setting.ini", joined by plain concatenation.
std::string SettingsFilePath();

// Outcome of a load or save, for the shell to report. `ok` false means
// `message` names the file and the reason.
struct SettingsResult {
    bool ok = true;
    std::string message;
    // Read, but a path in it is not used (see IsUsablePath): names the file
    // and the defaults used instead. Empty otherwise.
    std::string notice;
};

// Reads up to 524 bytes of "setting.ini" into `settings`. A missing file is
// created with the defaults; a file that exists but cannot be read leaves the
// defaults in memory, reports why, and is not overwritten until the user
// changes a setting.
SettingsResult LoadSettings();

// Writes the whole 524-byte record, bytes behind each NUL included. On failure
// the file keeps its previous content and the new value stays in memory.
SettingsResult SaveSettings();

// A path field holds at most this many bytes of UTF-8 before its NUL.
constexpr std::size_t kMaxPathBytes = kPathBufferSize - 1;
bool PathFitsRecord(const std::string& path);
// Says (in the UI's language) that `path` does not fit, naming the limit.
std::string PathTooLongMessage(const std::string& path);

// Copies `path` with its NUL into a path field, leaving the bytes behind it as
// they were. A path longer than kMaxPathBytes is refused (false): the field
// keeps its old path rather than a cut one naming another file.
bool StorePath(char (&field)[kPathBufferSize], const std::string& path);

// The text of a path field up to its NUL (or 260 bytes when there is none).
std::string ReadPath(const char (&field)[kPathBufferSize]);
// A path field is used only when it holds an absolute path in UTF-8. An
// empty one means the default; any other counts as not set and the default
// stands in, while the record keeps its bytes.
bool IsUsablePath(const std::string& path);
std::string DefaultVideoFilePath();  // the start folder's capture.avi
std::string DefaultPhotoFolder();    // the start folder
// The paths in use; the caller holds the settings lock.
std::string UsableVideoFilePath(const SettingsRecord& record);
std::string UsablePhotoFolder(const SettingsRecord& record);
// The same, read under the settings lock.
std::string CurrentVideoFilePath();
std::string CurrentPhotoFolder();

// Where the shell shows a failed save (a message box); tests replace it.
// The default writes to stderr.
void SetSettingsErrorHandler(std::function<void(const std::string&)> handler);
// The handler now in place (empty for the default), so a caller can restore it.
std::function<void(const std::string&)> CurrentSettingsErrorHandler();
void ReportSettingsError(const std::string& message);
