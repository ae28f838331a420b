#include "app/Messages.h"

#include <QMessageBox>
#include <QMutex>
#include <QMutexLocker>

namespace {
QMutex hookMutex;
MessageBoxHook& Hook()
{
    static MessageBoxHook hook;
    return hook;
}
}  // namespace

void ShowMessageBox(const QString& text, QWidget* parent)
{
    MessageBoxHook hook;
    {
        QMutexLocker lock(&hookMutex);
        hook = Hook();
    }
    if (hook) {
        hook(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Lumora"), text, QMessageBox::Ok, parent);
    box.exec();
}

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook)
{
    QMutexLocker lock(&hookMutex);
    MessageBoxHook previous = std::move(Hook());
    Hook() = std::move(hook);
    return previous;
}
