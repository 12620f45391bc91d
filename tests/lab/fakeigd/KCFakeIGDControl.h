#pragma once

#include "KCFakeIGDDescription.h"
#include "KCFakeIGDHTTPServer.h"
#include "KCFakeIGDOptions.h"
#include "KCFakeIGDSOAP.h"

#include <QElapsedTimer>
#include <QMap>
#include <QPair>

// The gateway itself: serves the description and answers control requests from its table of
// port mappings, with the scripted answers of its options. Every request is logged to stderr,
// and the table is rewritten to the mappings file on every change.
class KCFakeIGDControl {
public:
    KCFakeIGDControl(const KCFakeIGDOptions &options, const KCFakeIGDDescription &description);

    KCFakeIGDHTTPResponse handle(const KCFakeIGDHTTPRequest &request);
    bool writeMappings() const;

private:
    struct Mapping {
        QString internalClient;
        quint16 internalPort = 0;
        QString description;
        QString leaseDuration;
    };
    // Protocol ("TCP" or "UDP") and external port.
    using Key = QPair<QString, quint16>;
    using Result = std::optional<KCFakeIGDSOAP::Values>;

    KCFakeIGDHTTPResponse control(const QString &serviceType, const KCFakeIGDHTTPRequest &request);
    // Each action gives its answer's values, or sets *error to a UPnP error code.
    Result connectionAction(const KCFakeIGDSOAP::Call &call, int *error);
    Result commonInterfaceAction(const KCFakeIGDSOAP::Call &call, int *error);
    Result addPortMapping(const KCFakeIGDSOAP::Call &call, int *error);
    Result deletePortMapping(const KCFakeIGDSOAP::Call &call, int *error);
    Result specificPortMappingEntry(const KCFakeIGDSOAP::Call &call, int *error) const;
    Result genericPortMappingEntry(const KCFakeIGDSOAP::Call &call, int *error) const;
    static std::optional<Key> parseKey(const KCFakeIGDSOAP::Call &call);

    const KCFakeIGDOptions &_options;
    const KCFakeIGDDescription &_description;
    QMap<Key, Mapping> _mappings;
    qsizetype _addCalls = 0;
    QElapsedTimer _uptime;
};
