#include "capture/gst/PipelineWorker.h"

#include <atomic>
#include <condition_variable>
#include <deque>
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

// What the pipeline posts while it runs is the asker's to report.
struct ChangingState {
    ChangingState() { changingState = true; }
    ~ChangingState() { changingState = false; }
};

}  // namespace

struct PipelineWorker::Job {
    Work work;
    bool startsPipeline = false;  // runs the start hook first
    bool done = false;
    GstStateChangeReturn result = GST_STATE_CHANGE_FAILURE;
};

struct PipelineWorker::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    ElementPtr pipeline;
    std::deque<std::shared_ptr<Job>> jobs;
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
        s->wake.wait(lock, [&] { return !s->jobs.empty() || s->quit; });
        if (s->jobs.empty()) break;
        const std::shared_ptr<Job> job = s->jobs.front();
        s->jobs.pop_front();
        lock.unlock();
        if (job->startsPipeline) RunStartHook();
        bool skip;
        {
            std::lock_guard check(s->mutex);
            skip = s->abandoned;
        }
        GstStateChangeReturn result = GST_STATE_CHANGE_FAILURE;
        if (!skip) {
            const ChangingState changing;
            result = job->work(s->pipeline.get());
        }
        job->work = nullptr;  // what it holds goes here, off the asker's thread
        lock.lock();
        job->result = result;
        job->done = true;
        s->wake.notify_all();
    }
    const bool abandoned = s->abandoned;
    ElementPtr pipeline = std::move(s->pipeline);
    std::vector<std::shared_ptr<void>> keep = std::move(s->keep);
    lock.unlock();
    if (abandoned) {
        const ChangingState changing;
        gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    }
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
    auto job = std::make_shared<Job>();
    job->startsPipeline = !element && state == GST_STATE_PLAYING;
    std::shared_ptr<GstElement> target;  // held until the change is made
    if (element) target.reset(GST_ELEMENT(gst_object_ref(element)), [](GstElement* e) { gst_object_unref(e); });
    job->work = [target, state](GstElement* pipeline) {
        return gst_element_set_state(target ? target.get() : pipeline, state);
    };
    return Post(std::move(job), limit, whileWaiting);
}

std::optional<GstStateChangeReturn> PipelineWorker::Perform(Work work, std::chrono::milliseconds limit,
                                                            const std::function<void()>& whileWaiting) {
    auto job = std::make_shared<Job>();
    job->work = std::move(work);
    return Post(std::move(job), limit, whileWaiting);
}

std::optional<GstStateChangeReturn> PipelineWorker::Post(std::shared_ptr<Job> job, std::chrono::milliseconds limit,
                                                         const std::function<void()>& whileWaiting) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::unique_lock lock(shared->mutex);
    if (shared->quit) return std::nullopt;
    shared->jobs.push_back(job);
    shared->wake.notify_all();
    while (!shared->wake.wait_for(lock, kWaitSlice, [&] { return job->done; })) {
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        lock.unlock();
        if (whileWaiting) whileWaiting();
        lock.lock();
    }
    return job->result;
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
