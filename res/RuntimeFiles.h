#pragma once
// The read-only files the program opens at run time (CAMERA.WAV, Readme.txt).

#include <QString>

// `name` in the start directory when it is there; otherwise beside the
// program when there; otherwise the installed copy in the program's data
// folder when that exists; otherwise the start directory's path (so a
// missing file is reported under its usual name).
QString RuntimeFilePath(const QString& name);

// The folder an installed program keeps its read-only files in.
QString InstalledDataDirectory();
