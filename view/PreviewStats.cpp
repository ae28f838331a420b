#include "view/PreviewStats.h"

#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace PreviewStats {

namespace {

std::atomic<unsigned long long> presented{0};
std::atomic<unsigned long long> painted{0};

}  // namespace

void CountPresented()
{
    presented.fetch_add(1, std::memory_order_relaxed);
}

void CountPainted()
{
    painted.fetch_add(1, std::memory_order_relaxed);
}

void ReportIfAsked(QObject* owner)
{
    const char* asked = std::getenv("LUMORA_PREVIEW_STATS");
    if (!asked || std::strcmp(asked, "1") != 0) return;
    auto* timer = new QTimer(owner);
    QObject::connect(timer, &QTimer::timeout, [] {
        std::fprintf(stderr, "lumora-preview: presented=%llu painted=%llu\n", presented.load(), painted.load());
        std::fflush(stderr);
    });
    timer->start(1000);
}

}  // namespace PreviewStats
