#pragma once
// Saving a recording can take a while (a take of gigabytes): the copy runs
// on a thread of its own while a modal dialog shows how far it got, and the
// window goes on repainting. 取消 stops it; nothing is left at the target.

#include <QString>
#include <functional>

#include "app/LumoraDoc.h"

class QWidget;

// Returns once the copy ended: copied, failed, or cancelled. `stepped`, when
// set, is called on the copying thread after each piece.
RecordingCopyResult CopyRecordingWithProgress(const QString& source, const QString& target, QWidget* parent,
                                              const std::function<void()>& stepped = {});
