#pragma once

#include <QObject>

// Tells when the kernel's routes, addresses or links may have changed. It says nothing about
// what changed: the receiver reads the tables again and compares.
class KCRouteWatch : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

Q_SIGNALS:
    // On the owning thread, once for each batch of kernel events read together.
    void routingChanged();
};
