#include "frame/SelfTimer.h"

CSelfTimer::CSelfTimer(QObject* parent) : QObject(parent)
{
    timer.setInterval(1000);
    connect(&timer, &QTimer::timeout, this, &CSelfTimer::Step);
}

void CSelfTimer::Start()
{
    remaining = kSeconds;
    timer.start();
    emit counted(remaining);
}

void CSelfTimer::Cancel()
{
    timer.stop();
    remaining = 0;
}

void CSelfTimer::Step()
{
    if (--remaining > 0) {
        emit counted(remaining);
        return;
    }
    timer.stop();
    remaining = 0;
    emit elapsed();
}
