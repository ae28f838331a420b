#pragma once
// The program from its arguments to its exit code. `besideFrame`, when
// given, is handed the main window once it is made; what it gives back
// lives until the event loop ends (a build-tree tool adds to the window
// this way).

#include <QObject>

#include <functional>
#include <memory>

class CMainFrame;

using FrameCompanion = std::function<std::unique_ptr<QObject>(CMainFrame* frame)>;

int RunLumora(int argc, char** argv, const FrameCompanion& besideFrame = {});
