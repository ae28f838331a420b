#include "capture/gst/PipelineWorker.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "capture/gst/PlatformSeams.h"

namespace lumora::gst {

namespace {

constexpr auto kWaitSlice = std::chrono::milliseconds(20);

thread_local bool changingState = false;
std::atomic<int> abandonedAlive{0};

std::mutex startHookMutex;
std::function<void()>& StartHook() {
    static std::function<void()> hook;
    return hook;
}

void RunStartHook() {
    std::function<void()> hook;
    {
        std::lock_guard lock(startHookMutex);
        hook = StartHook();
    }
    if (hook) hook();
}

GstStateChangeReturn SetStateHere(GstElement* pipeline, GstState state) {
    changingState = true;
    const GstStateChangeReturn result = gst_element_set_state(pipeline, state);
    changingState = false;
    return result;
}

}  // namespace

struct PipelineWorker::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    ElementPtr pipeline;
    std::optional<GstState> request;
    ElementPtr requestTarget;  // null: the pipeline
    bool done = false;
    GstStateChangeReturn result = GST_STATE_CHANGE_FAILURE;
    bool quit = false;
    bool abandoned = false;
    std::vector<std::shared_ptr<void>> keep;
};

PipelineWorker::PipelineWorker(ElementPtr pipeline) : shared(std::make_shared<Shared>()) {
    shared->pipeline = std::move(pipeline);
    thread = std::thread(&PipelineWorker::Serve, shared);
}

PipelineWorker::~PipelineWorker() {
    if (thread.joinable()) Abandon({});
}

bool PipelineWorker::OnStateChangeThread() { return changingState; }

void PipelineWorker::Serve(const std::shared_ptr<Shared>& s) {
    std::unique_lock lock(s->mutex);
    for (;;) {
        s->wake.wait(lock, [&] { return s->request.has_value() || s->quit; });
        if (!s->request) break;
        const GstState state = *s->request;
        ElementPtr target = std::move(s->requestTarget);
        lock.unlock();
        if (state == GST_STATE_PLAYING && !target) RunStartHook();
        bool skip;
        {
            std::lock_guard check(s->mutex);
            skip = s->abandoned;
        }
        const GstStateChangeReturn result =
            skip ? GST_STATE_CHANGE_FAILURE : SetStateHere(target ? target.get() : s->pipeline.get(), state);
        target.reset();
        lock.lock();
        s->request.reset();
        s->result = result;
        s->done = true;
        s->wake.notify_all();
    }
    const bool abandoned = s->abandoned;
    ElementPtr pipeline = std::move(s->pipeline);
    std::vector<std::shared_ptr<void>> keep = std::move(s->keep);
    lock.unlock();
    if (abandoned) SetStateHere(pipeline.get(), GST_STATE_NULL);
    keep.clear();  // before the pipeline: what is kept may point into it
    pipeline.reset();
    if (abandoned) abandonedAlive.fetch_sub(1);
}

std::optional<GstStateChangeReturn> PipelineWorker::ChangeState(GstState state, std::chrono::milliseconds limit,
                                                                const std::function<void()>& whileWaiting) {
    return ChangeState(nullptr, state, limit, whileWaiting);
}

std::optional<GstStateChangeReturn> PipelineWorker::ChangeState(GstElement* element, GstState state,
                                                                std::chrono::milliseconds limit,
                                                                const std::function<void()>& whileWaiting) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::unique_lock lock(shared->mutex);
    if (shared->quit) return std::nullopt;
    shared->request = state;
    shared->requestTarget = element ? Ref(element) : nullptr;
    shared->done = false;
    shared->wake.notify_all();
    while (!shared->wake.wait_for(lock, kWaitSlice, [&] { return shared->done; })) {
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        lock.unlock();
        if (whileWaiting) whileWaiting();
        lock.lock();
    }
    return shared->result;
}

void PipelineWorker::Finish() {
    {
        std::lock_guard lock(shared->mutex);
        shared->quit = true;
    }
    shared->wake.notify_all();
    if (thread.joinable()) thread.join();
}

void PipelineWorker::Abandon(std::vector<std::shared_ptr<void>> keep) {
    if (!thread.joinable()) return;
    abandonedAlive.fetch_add(1);
    {
        std::lock_guard lock(shared->mutex);
        shared->abandoned = true;
        shared->quit = true;
        shared->keep = std::move(keep);
    }
    shared->wake.notify_all();
    thread.detach();
}

int AbandonedPipelinesAlive() { return abandonedAlive.load(); }

void SetPipelineStartHook(std::function<void()> hook) {
    std::lock_guard lock(startHookMutex);
    StartHook() = std::move(hook);
}

}  // namespace lumora::gst
