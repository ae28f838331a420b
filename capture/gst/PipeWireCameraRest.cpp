#include "capture/gst/PipeWireCameraRest.h"

#ifdef LUMORA_WITH_PIPEWIRE

#include <gst/gst.h>
#include <pipewire/pipewire.h>
#include <spa/node/command.h>

#include <cstring>
#include <string>
#include <utility>

namespace lumora::gst {

namespace {

// What the daemon may take to answer, beyond the wait for the node to idle.
constexpr auto kAnswerLimit = std::chrono::seconds(1);
constexpr int kSliceMilliseconds = 20;

// One look at the node on a connection of its own: suspended when it idles.
class NodeRest {
public:
    NodeRest(std::string target, bool waitForIdle) : target(std::move(target)), waitForIdle(waitForIdle) {}

    bool Run(std::chrono::steady_clock::time_point deadline, const std::function<void()>& whileWaiting) {
        pw_init(nullptr, nullptr);
        loop = pw_loop_new(nullptr);
        if (!loop) return false;
        context = pw_context_new(loop, nullptr, 0);
        core = context ? pw_context_connect(context, nullptr, 0) : nullptr;
        if (core) {
            static const pw_core_events coreEvents = [] {
                pw_core_events e{};
                e.version = PW_VERSION_CORE_EVENTS;
                e.done = &NodeRest::OnDone;
                e.error = &NodeRest::OnError;
                return e;
            }();
            static const pw_registry_events registryEvents = [] {
                pw_registry_events e{};
                e.version = PW_VERSION_REGISTRY_EVENTS;
                e.global = &NodeRest::OnGlobal;
                return e;
            }();
            pw_core_add_listener(core, &coreListener, &coreEvents, this);
            registry = pw_core_get_registry(core, PW_VERSION_REGISTRY, 0);
            pw_registry_add_listener(registry, &registryListener, &registryEvents, this);
            listed = pw_core_sync(core, PW_ID_CORE, 0);
            pw_loop_enter(loop);
            while (!finished && std::chrono::steady_clock::now() < deadline) {
                pw_loop_iterate(loop, kSliceMilliseconds);
                if (whileWaiting) whileWaiting();
            }
            pw_loop_leave(loop);
        }
        Close();
        return suspended;
    }

private:
    static void OnGlobal(void* self, uint32_t id, uint32_t, const char* type, uint32_t, const spa_dict* props) {
        auto* rest = static_cast<NodeRest*>(self);
        if (rest->node || !props || std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0) return;
        const char* serial = spa_dict_lookup(props, PW_KEY_OBJECT_SERIAL);
        const char* name = spa_dict_lookup(props, PW_KEY_NODE_NAME);
        if ((!serial || rest->target != serial) && (!name || rest->target != name)) return;
        static const pw_node_events nodeEvents = [] {
            pw_node_events e{};
            e.version = PW_VERSION_NODE_EVENTS;
            e.info = &NodeRest::OnInfo;
            return e;
        }();
        rest->node = static_cast<pw_node*>(pw_registry_bind(rest->registry, id, type, PW_VERSION_NODE, 0));
        if (rest->node) pw_node_add_listener(rest->node, &rest->nodeListener, &nodeEvents, rest);
    }

    // Told at once and at each change of its state.
    static void OnInfo(void* self, const pw_node_info* info) {
        auto* rest = static_cast<NodeRest*>(self);
        if (rest->commanded || rest->finished) return;
        switch (info->state) {
            case PW_NODE_STATE_SUSPENDED:
                rest->suspended = rest->finished = true;
                break;
            case PW_NODE_STATE_IDLE: {
                spa_command suspend = SPA_NODE_COMMAND_INIT(SPA_NODE_COMMAND_Suspend);
                pw_node_send_command(rest->node, &suspend);
                rest->commanded = true;
                rest->answered = pw_core_sync(rest->core, PW_ID_CORE, 0);
                break;
            }
            default:  // another program streams from it, or it is not ready
                if (!rest->waitForIdle) rest->finished = true;
                break;
        }
    }

    static void OnDone(void* self, uint32_t id, int seq) {
        auto* rest = static_cast<NodeRest*>(self);
        if (id != PW_ID_CORE) return;
        if (seq == rest->listed && !rest->node) rest->finished = true;  // no such node
        if (rest->commanded && seq == rest->answered) rest->suspended = rest->finished = true;
    }

    static void OnError(void* self, uint32_t id, int, int, const char*) {
        if (id == PW_ID_CORE) static_cast<NodeRest*>(self)->finished = true;
    }

    void Close() {
        if (node) {
            spa_hook_remove(&nodeListener);
            pw_proxy_destroy(reinterpret_cast<pw_proxy*>(node));
        }
        if (registry) {
            spa_hook_remove(&registryListener);
            pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
        }
        if (core) {
            spa_hook_remove(&coreListener);
            pw_core_disconnect(core);
        }
        if (context) pw_context_destroy(context);
        if (loop) pw_loop_destroy(loop);
    }

    std::string target;
    bool waitForIdle;
    pw_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_registry* registry = nullptr;
    pw_node* node = nullptr;
    spa_hook coreListener{}, registryListener{}, nodeListener{};
    int listed = -1, answered = -1;
    bool commanded = false, suspended = false, finished = false;
};

}  // namespace

bool PipeWireSinksNeedRest() {
    static const bool needed = [] {
        GstElementFactory* factory = gst_element_factory_find("pipewiresink");
        if (!factory) return false;
        auto* loaded = GST_ELEMENT_FACTORY(gst_plugin_feature_load(GST_PLUGIN_FEATURE(factory)));
        gst_object_unref(factory);
        if (!loaded) return false;
        const GType type = gst_element_factory_get_element_type(loaded);
        gpointer sinkClass = type ? g_type_class_ref(type) : nullptr;
        const bool pooled = sinkClass && g_object_class_find_property(G_OBJECT_CLASS(sinkClass), "use-bufferpool");
        if (sinkClass) g_type_class_unref(sinkClass);
        gst_object_unref(loaded);
        return !pooled;
    }();
    return needed;
}

bool SuspendWhenIdle(const std::string& target, std::chrono::milliseconds idleWithin,
                     const std::function<void()>& whileWaiting) {
    if (target.empty() || !PipeWireSinksNeedRest()) return false;
    const auto deadline = std::chrono::steady_clock::now() + kAnswerLimit + idleWithin;
    return NodeRest(target, idleWithin.count() > 0).Run(deadline, whileWaiting);
}

}  // namespace lumora::gst

#else

namespace lumora::gst {

bool PipeWireSinksNeedRest() { return false; }

bool SuspendWhenIdle(const std::string&, std::chrono::milliseconds, const std::function<void()>&) { return false; }

}  // namespace lumora::gst

#endif
