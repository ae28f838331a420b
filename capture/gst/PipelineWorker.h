#pragma once
// The state changes of one pipeline, run on a thread of their own: opening
// or closing a device can take seconds (or hang), and the window must keep
// painting meanwhile. The caller waits in short slices, running a hook
// between them. A pipeline whose change does not end in time is abandoned:
// the worker takes it down whenever the stuck change returns, then drops it.
// Changes asked for from two threads (the UI's, a camera watch's) are made
// one after the other, in the order asked.

#include <gst/gst.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "capture/gst/GstHandles.h"

namespace lumora::gst {

class PipelineWorker {
public:
    explicit PipelineWorker(ElementPtr pipeline);
    // Abandons the pipeline unless Finish() was called; never waits.
    ~PipelineWorker();
    PipelineWorker(const PipelineWorker&) = delete;
    PipelineWorker& operator=(const PipelineWorker&) = delete;

    // Sets `state`, running `whileWaiting` about every 20 ms until done.
    // nullopt when it is not done within `limit` (it goes on on the worker).
    std::optional<GstStateChangeReturn> ChangeState(GstState state, std::chrono::milliseconds limit,
                                                    const std::function<void()>& whileWaiting);
    // The same for one element of the pipeline (a branch that leaves it).
    std::optional<GstStateChangeReturn> ChangeState(GstElement* element, GstState state,
                                                    std::chrono::milliseconds limit,
                                                    const std::function<void()>& whileWaiting);
    // Runs `work` with the pipeline on the worker, as one change, bounded
    // as ChangeState is.
    using Work = std::function<GstStateChangeReturn(GstElement* pipeline)>;
    std::optional<GstStateChangeReturn> Perform(Work work, std::chrono::milliseconds limit,
                                                const std::function<void()>& whileWaiting);
    // After a change to NULL that ended: the thread ends, the pipeline is dropped.
    void Finish();
    // The worker sets the pipeline to NULL once it can, releases `keep`,
    // then drops the pipeline. Returns at once.
    void Abandon(std::vector<std::shared_ptr<void>> keep);

    // True on a worker's thread while it changes a state: what the pipeline
    // posts then belongs to the caller of ChangeState.
    static bool OnStateChangeThread();

private:
    struct Shared;
    struct Job;
    std::optional<GstStateChangeReturn> Post(std::shared_ptr<Job> job, std::chrono::milliseconds limit,
                                             const std::function<void()>& whileWaiting);
    static void Serve(const std::shared_ptr<Shared>& shared);
    std::shared_ptr<Shared> shared;
    std::thread thread;
};

// Abandoned pipelines whose worker has not dropped them yet.
int AbandonedPipelinesAlive();

}  // namespace lumora::gst
