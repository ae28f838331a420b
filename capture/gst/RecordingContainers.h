#pragma once
// The multiplexer of each container a recording can be written in, and
// what each one holds: AVI (avimux), Matroska (matroskamux) and MP4 in
// fragments of a second (mp4mux), so that a killed Matroska or MP4 take
// plays up to where it was written.

#include <gst/gst.h>

#include <string>
#include <vector>

#include "base/RecordingContainer.h"
#include "capture/gst/GstFilters.h"
#include "capture/gst/GstHandles.h"
#include "capture/gst/Result.h"

namespace lumora::gst {

const char* MuxerFactory(MediaSubtype container);

// The multiplexer of `container` in `bin`, named as the program's in the
// file's header and set up for a live take.
Result<GstElement*> AddMuxer(GstBin* bin, MediaSubtype container);

// The caps a multiplexer takes on its pad template (e.g. "video_%u").
CapsPtr MuxerSinkCaps(const char* muxerFactory, const char* padTemplateName);
// Whether an element of `factory` can put out what `muxerCaps` take.
bool FactoryOutputFits(GstElementFactory* factory, GstCaps* muxerCaps);

// Whether a file of `container` holds the pictures (`video`) or the sound
// of `compressor`; null: uncompressed, as the recording hands them on
// (I420 pictures, S16LE sound).
bool ContainerHolds(MediaSubtype container, const GstFilter* compressor, bool video);

// The same for a whole recording; false with the reason for the user.
bool CheckContainerHolds(MediaSubtype container, const GstFilter* videoCompressor, bool withSound,
                         const GstFilter* audioCompressor, std::string& reason);

// The names of the compressors the device dialog lists (GstCatalogue.cpp)
// whose output a file of `container` holds.
std::vector<std::string> ListedCompressorsHeldBy(MediaSubtype container, bool video);
// `compressor` as the device dialog lists it.
std::string ListedCompressorName(const GstFilter& compressor, bool video);

}  // namespace lumora::gst
