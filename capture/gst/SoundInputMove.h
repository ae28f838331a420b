#pragma once
// A sound server may move a recording's stream to another input when its
// own goes away (a headset unplugged, a module unloaded): the recording
// goes on with the other input's sound, and the user is told which.

#include <gst/gst.h>

#include <memory>
#include <string>

namespace lumora::gst {

class SoundGapFiller;

// Watches `source` (an element with "current-device", as pulsesrc has) for
// a move away from the input the user knows as `input`; the notice goes
// through `filler`, which tells the user once per recording.
void WatchForAMove(GstElement* source, const std::string& input, const std::shared_ptr<SoundGapFiller>& filler);

}  // namespace lumora::gst
