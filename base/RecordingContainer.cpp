#include "base/RecordingContainer.h"

#include <cctype>

namespace {

bool EndsWithNoCase(const std::string& text, const std::string& ending) {
    if (text.size() < ending.size()) return false;
    for (std::size_t i = 0; i < ending.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[text.size() - ending.size() + i])) != ending[i]) return false;
    return true;
}

}  // namespace

MediaSubtype ContainerOfPath(const std::string& path) {
    if (EndsWithNoCase(path, ".mkv")) return MediaSubtype::Matroska;
    if (EndsWithNoCase(path, ".mp4")) return MediaSubtype::Mp4;
    return MediaSubtype::Avi;
}

const char* ContainerName(MediaSubtype container) {
    switch (container) {
        case MediaSubtype::Matroska: return "MKV";
        case MediaSubtype::Mp4: return "MP4";
        default: return "AVI";
    }
}

const char* ContainerExtension(MediaSubtype container) {
    switch (container) {
        case MediaSubtype::Matroska: return ".mkv";
        case MediaSubtype::Mp4: return ".mp4";
        default: return ".avi";
    }
}
