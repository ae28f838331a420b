#pragma once
// The container a recording is written in, told by its file's name: ".mkv"
// Matroska, ".mp4" MP4 written in fragments, anything else AVI (as every
// recording was before the other two).

#include <string>

enum class MediaSubtype { Avi, Matroska, Mp4 };

// By the extension of `path`, in any case ("Take.MKV" is Matroska).
MediaSubtype ContainerOfPath(const std::string& path);

// "AVI", "MKV", "MP4": the container as the messages name it.
const char* ContainerName(MediaSubtype container);

// The extension that names the container, with its dot (".avi"...).
const char* ContainerExtension(MediaSubtype container);

// An AVI gets its index only at its end: a take that never ended needs a
// repair. Matroska and fragmented MP4 hold whatever reached the file.
inline bool NeedsRepairWhenUnfinished(MediaSubtype container) { return container == MediaSubtype::Avi; }
