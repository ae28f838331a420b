#include "frame/BurstShooter.h"

#include <QSettings>

#include <algorithm>
#include <utility>

#include "app/Profile.h"

namespace {

const QString kCountKey = QStringLiteral("Burst/Count");
const QString kIntervalKey = QStringLiteral("Burst/Interval");
// While the photo before is still being written.
constexpr int kRetryMs = 50;

}  // namespace

CBurstShooter::CBurstShooter(std::function<bool()> shootOne, QObject* parent)
    : QObject(parent), shoot(std::move(shootOne))
{
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, [this] { Step(); });
}

void CBurstShooter::Start(int photos, int interval)
{
    count = std::clamp(photos, kMinCount, kMaxCount);
    intervalMs = std::clamp(interval, kMinIntervalMs, kMaxIntervalMs);
    remaining = count;
    taken = 0;
    Step();
}

void CBurstShooter::Cancel()
{
    timer.stop();
    remaining = 0;
}

void CBurstShooter::Step()
{
    if (remaining <= 0) return;
    if (!shoot()) {
        timer.start(kRetryMs);
        return;
    }
    ++taken;
    --remaining;
    emit shot(taken, count);
    if (remaining > 0) {
        timer.start(intervalMs);
        return;
    }
    emit finished(taken);
}

int CBurstShooter::RememberedCount()
{
    const int value = OpenProfile(QString())->value(kCountKey, kDefaultCount).toInt();
    return std::clamp(value, kMinCount, kMaxCount);
}

int CBurstShooter::RememberedIntervalMs()
{
    const int value = OpenProfile(QString())->value(kIntervalKey, kDefaultIntervalMs).toInt();
    return std::clamp(value, kMinIntervalMs, kMaxIntervalMs);
}

void CBurstShooter::Remember(int photos, int interval)
{
    const auto profile = OpenProfile(QString());
    profile->setValue(kCountKey, std::clamp(photos, kMinCount, kMaxCount));
    profile->setValue(kIntervalKey, std::clamp(interval, kMinIntervalMs, kMaxIntervalMs));
    profile->sync();
}
