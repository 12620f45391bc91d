#pragma once

#include "KCDaemonPortMapper.h"
#include "KCIPv4Address.h"

#include <QCoreApplication>
#include <QThread>

#include <ostream>
#include <vector>

// What a port mapper's delegate heard, for tests of mappers on fakes and in the router lab.

inline uint32_t ipv4(const char *text)
{
    return *KCIPv4Address::parse(text);
}

struct KCMapperResult {
    int32_t code = 0;
    uint16_t externalPort = 0;
    uint32_t externalAddress = 0;
    uint32_t interfaceIndex = 0;
    uint32_t ttl = 0;
    friend bool operator==(const KCMapperResult &, const KCMapperResult &) = default;
};

inline std::ostream &operator<<(std::ostream &out, const KCMapperResult &result)
{
    return out << "{" << result.code << ", " << result.externalPort << ", "
               << KCIPv4Address::toString(result.externalAddress).toStdString() << ", " << result.interfaceIndex
               << ", " << result.ttl << "}";
}

class KCRecordingMapperDelegate final : public KCDaemonPortMapperDelegate {
public:
    void portMapping(KCDaemonPortMapper *, int32_t statusChanged, uint16_t externalPort, uint32_t externalAddress,
        uint32_t interfaceIndex, uint32_t ttl) override
    {
        results.push_back({statusChanged, externalPort, externalAddress, interfaceIndex, ttl});
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            offMainThread = true;
    }

    std::vector<KCMapperResult> results;
    bool offMainThread = false;
};

