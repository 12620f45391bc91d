#pragma once

#include "KCTestNetworkNamespace.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

// The daemon executable run as a child of the test. As root it runs in a network namespace of
// its own, or in one the test made for it and its peers, so nothing it does reaches the machine's
// network, and with empty folders of its own in place of those it deletes files in (the installed
// executable's and unit's), so it never deletes the machine's files. It never sees the machine's
// system bus either: it is given the test's private one, or none.
class KCDaemonProcess {
public:
    // scratchDirectory holds what the run needs besides the daemon's own state. Without a bus
    // address the daemon finds no system bus.
    KCDaemonProcess(const QStringList &arguments, const QString &scratchDirectory,
                    const KCTestNetworkNamespace *sharedNamespace = nullptr, const QString &systemBusAddress = QString());
    ~KCDaemonProcess();

    bool started() const { return m_started; }
    QString error() const { return m_error; }

    // Waits until standard error holds the text or the process ends, at most timeoutMs.
    bool waitForStandardError(const QString &text, int timeoutMs = 30000);
    // Waits for the end of the process; false if it is still running after timeoutMs.
    bool waitForExit(int timeoutMs = 30000);
    void sendSignal(int signal);
    qint64 processId() const { return m_process.processId(); }

    QString standardOutput();
    QString standardError();
    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }
    int exitCode() const { return m_process.exitCode(); }

private:
    void collect();

    std::unique_ptr<KCTestNetworkNamespace> m_namespace;
    QProcess m_process;
    QString m_stdout;
    QString m_stderr;
    QString m_error;
    bool m_started = false;
};
