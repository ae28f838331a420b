#pragma once
// A camera that comes through PipeWire, put to rest between streams.
//
// GStreamer's pipewiresink, which virtual-camera tools publish with, drops
// every buffer it is handed while nobody streams from it, and never gets
// them back: it has pictures to give again only once PipeWire suspends its
// node and makes it new buffers, which the session manager does after the
// node has idled 5 s. A client that connects before that gets the format
// and no picture, and while it stays the node never idles again. So the
// node is suspended as soon as nobody streams from it: when this program
// leaves it, and before this program connects to it.
//
// The sink that keeps its buffers in a pool of its own (it offers
// "use-bufferpool") loses none while idle, but ends with an error once
// its buffers are taken from it: by a suspend, or when the link to its
// consumer goes (as PipeWire's source of that age drops and makes its link
// at each start). Where the installed sink is of that kind, no node is
// suspended.

#include <chrono>
#include <functional>
#include <string>

namespace lumora::gst {

// Suspends the PipeWire node `target` (its object.serial or node.name)
// once it idles, waiting at most `idleWithin` for that (0: only if it
// idles now); `whileWaiting` runs meanwhile. false when it was not
// suspended: another program streams from it, it is gone, there is no
// PipeWire, or the installed pipewiresink needs no rest.
// Whether this system's pipewiresink is the kind that needs the rest.
bool PipeWireSinksNeedRest();

bool SuspendWhenIdle(const std::string& target, std::chrono::milliseconds idleWithin,
                     const std::function<void()>& whileWaiting);

}  // namespace lumora::gst
