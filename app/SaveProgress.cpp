#include "app/SaveProgress.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QProgressDialog>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

namespace {

constexpr int kShowAfterMs = 400;  // a small copy ends without a flash of a dialog
constexpr int kRefreshMs = 100;
constexpr int kSteps = 1000;

// Written by the copying thread, read by the window's.
struct CopyShared {
    std::atomic<uint64_t> copied{0};
    std::atomic<uint64_t> total{0};
    std::atomic<bool> cancelled{false};
    std::atomic<bool> finished{false};
};

int StepOf(const CopyShared& shared)
{
    const uint64_t total = shared.total.load();
    if (total == 0) return 0;
    return static_cast<int>(std::min<uint64_t>(shared.copied.load(), total) * kSteps / total);
}

}  // namespace

RecordingCopyResult CopyRecordingWithProgress(const QString& source, const QString& target, QWidget* parent,
                                              const std::function<void()>& stepped)
{
    auto shared = std::make_shared<CopyShared>();
    QEventLoop loop;
    RecordingCopyResult result;  // written by the copying thread, read after the join
    std::thread worker([&result, &loop, shared, source, target, stepped] {
        result = CopyRecordingFile(source, target, [&shared, &stepped](uint64_t copied, uint64_t total) {
            shared->copied.store(copied);
            shared->total.store(total);
            if (stepped) stepped();
            return !shared->cancelled.load();
        });
        shared->finished.store(true);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });

    QProgressDialog dialog(QStringLiteral("正在保存录相到“%1”……").arg(QFileInfo(target).fileName()),
                           QStringLiteral("取消"), 0, kSteps, parent);
    dialog.setWindowTitle(QStringLiteral("保存"));
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setMinimumDuration(kShowAfterMs);
    const auto cancel = [&dialog, shared] {
        if (shared->cancelled.exchange(true)) return;
        dialog.setLabelText(QStringLiteral("正在取消……"));
        dialog.show();  // hidden by 取消, it stays until the copy has stopped
    };
    QObject::connect(&dialog, &QProgressDialog::canceled, &dialog, cancel);
    QObject::connect(&dialog, &QDialog::rejected, &dialog, cancel);
    // Until the dialog shows, the window repaints but takes no input: no
    // command runs meanwhile (a take could overwrite the file being copied).
    bool inputHeld = true;
    const auto takeInput = [&loop, &inputHeld] {
        if (!inputHeld) return;
        inputHeld = false;
        loop.quit();
    };
    QTimer refresh;
    QObject::connect(&refresh, &QTimer::timeout, &dialog, [&dialog, shared, &takeInput] {
        if (!shared->cancelled.load()) dialog.setValue(StepOf(*shared));
        if (dialog.isVisible()) takeInput();  // shown early for a copy that looks long
    });
    refresh.start(kRefreshMs);
    QTimer::singleShot(kShowAfterMs, &loop, takeInput);
    if (!shared->finished.load()) loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!shared->finished.load() && !inputHeld) {
        dialog.show();
        loop.exec();
    }
    // Otherwise the program is quitting (a signal ends every loop): the copy stops.
    if (!shared->finished.load()) shared->cancelled.store(true);
    worker.join();
    return result;
}
