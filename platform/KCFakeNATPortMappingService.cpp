#include "KCFakeNATPortMappingService.h"

class KCFakeNATPortMappingService::Request final : public KCNATPortMappingRequest {
public:
    Request(std::weak_ptr<State> state, std::size_t index)
        : m_state(std::move(state))
        , m_index(index)
    {
    }
    ~Request() override
    {
        if (const auto state = m_state.lock())
            state->entries[m_index].opened.released = true;
    }

private:
    std::weak_ptr<State> m_state;
    std::size_t m_index;
};

KCFakeNATPortMappingService::KCFakeNATPortMappingService() = default;
KCFakeNATPortMappingService::~KCFakeNATPortMappingService() = default;

KCNATPortMappingService::Creation KCFakeNATPortMappingService::createPortMapping(
    const KCNATPortMappingParameters &parameters, ReplyHandler onReply)
{
    ++m_createCalls;
    if (m_failNext) {
        const int32_t code = *m_failNext;
        m_failNext.reset();
        return {code, nullptr};
    }
    const std::size_t index = m_state->entries.size();
    m_state->entries.push_back({Opened{parameters, false}, std::move(onReply)});
    // Queued on a member, so calls still pending die with the service.
    for (const KCNATPortMappingReply &reply : m_script)
        QMetaObject::invokeMethod(&m_context, [this, index, reply] { deliver(index, reply); }, Qt::QueuedConnection);
    return {0, std::make_unique<Request>(m_state, index)};
}

void KCFakeNATPortMappingService::failNextCreate(int32_t code)
{
    m_failNext = code;
}

void KCFakeNATPortMappingService::setScriptedReplies(std::vector<KCNATPortMappingReply> replies)
{
    m_script = std::move(replies);
}

bool KCFakeNATPortMappingService::deliver(std::size_t index, const KCNATPortMappingReply &reply)
{
    if (index >= m_state->entries.size() || m_state->entries[index].opened.released)
        return false;
    // The handler may release this request or open others, which moves the entries.
    const ReplyHandler onReply = m_state->entries[index].onReply;
    onReply(reply);
    return true;
}

std::vector<KCFakeNATPortMappingService::Opened> KCFakeNATPortMappingService::opened() const
{
    std::vector<Opened> result;
    for (const Entry &entry : m_state->entries)
        result.push_back(entry.opened);
    return result;
}

std::size_t KCFakeNATPortMappingService::openCount() const
{
    std::size_t count = 0;
    for (const Entry &entry : m_state->entries)
        count += entry.opened.released ? 0 : 1;
    return count;
}
