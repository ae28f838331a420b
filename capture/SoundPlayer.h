#pragma once
// Plays a sound file without waiting for it to end (the shutter sound).

#include <string>

// Starts playing `path` asynchronously and returns at once. false when the
// file is missing or playback could not start; the caller then beeps.
bool PlaySoundFileAsync(const std::string& path);
