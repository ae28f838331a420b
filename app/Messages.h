#pragma once
// Message boxes of the shell, with OK only. Tests replace the box with a
// collector so that nothing modal blocks them.

#include <QString>
#include <functional>

class QWidget;

void ShowMessageBox(const QString& text, QWidget* parent = nullptr);

// Replaces the box (nullptr restores it). Returns the previous hook.
using MessageBoxHook = std::function<void(const QString&)>;
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);
