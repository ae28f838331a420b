#pragma once
// Counts of the preview's frames, for measuring what the user sees: frames
// the engine handed to the video window, and distinct frames painted. With
// LUMORA_PREVIEW_STATS=1 in the environment the program prints both to
// stderr once a second:  lumora-preview: presented=N painted=M

class QObject;

namespace PreviewStats {

void CountPresented();  // any thread
void CountPainted();    // UI thread
// Starts the once-a-second report when the environment asks for it.
void ReportIfAsked(QObject* owner);

}  // namespace PreviewStats
