#pragma once
// Picture modes of a camera: the one taken when the user chose none, how a
// mode is shown in the device dialog, and how it is kept in the profile.

#include <optional>
#include <string>
#include <vector>

#include "capture/CapturePlatform.h"

// The largest picture that reaches the camera's highest frame rate (25 or
// 30 frames/s are enough where offered: more is not worth a smaller picture),
// raw when raw reaches it, JPEG otherwise. nullopt for an empty list.
std::optional<VideoMode> ChooseDefaultMode(const std::vector<VideoMode>& modes);

// "1920 x 1080  30 帧/秒  MJPEG" (a fractional rate keeps two decimals).
std::string DescribeVideoMode(const VideoMode& mode);

// "1920x1080@30/1:MJPEG", and back (nullopt for anything else).
std::string VideoModeToText(const VideoMode& mode);
std::optional<VideoMode> VideoModeFromText(const std::string& text);

// "640x480@30/1:I420,1920x1080@30/1:MJPEG": the modes in order; blanks around
// an entry are ignored and entries that are not modes are left out.
std::vector<VideoMode> VideoModesFromList(const std::string& text);
