#pragma once

#include <QString>
#include <QStringList>

// Records every line logged through Qt while it exists, so a test can assert on the system log.
class KCLogCapture {
public:
    KCLogCapture();
    ~KCLogCapture();
    KCLogCapture(const KCLogCapture &) = delete;
    KCLogCapture &operator=(const KCLogCapture &) = delete;

    QStringList lines() const;
    bool contains(const QString &text) const;
    int count(const QString &text) const;
    void clear();
};
