#pragma once

#include "KCNATPortMappingService.h"

#include <QObject>
#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

// A port-mapping service for tests of its callers: it records what was opened and released,
// fails on request, and delivers the replies a test scripts or pushes.
class KCFakeNATPortMappingService final : public KCNATPortMappingService {
public:
    struct Opened {
        KCNATPortMappingParameters parameters;
        bool released = false;
    };

    KCFakeNATPortMappingService();
    ~KCFakeNATPortMappingService() override;

    Creation createPortMapping(const KCNATPortMappingParameters &parameters, ReplyHandler onReply) override;

    // The next createPortMapping() fails with this code and opens nothing.
    void failNextCreate(int32_t code);
    // Every request opened from now on gets these replies, in order, from the event loop.
    void setScriptedReplies(std::vector<KCNATPortMappingReply> replies);
    // Delivers a reply now to the index-th request opened; false if that one was released.
    bool deliver(std::size_t index, const KCNATPortMappingReply &reply);

    // Every call of createPortMapping(), failed ones included.
    int createCalls() const { return m_createCalls; }
    // The requests opened, in order, with whether each has been released since.
    std::vector<Opened> opened() const;
    std::size_t openCount() const;

private:
    struct Entry {
        Opened opened;
        ReplyHandler onReply;
    };
    struct State {
        std::vector<Entry> entries;
    };
    class Request;

    std::shared_ptr<State> m_state = std::make_shared<State>();
    std::optional<int32_t> m_failNext;
    std::vector<KCNATPortMappingReply> m_script;
    int m_createCalls = 0;
    QObject m_context;
};
