#pragma once

#include "KCCommandRunner.h"
#include "KCSshdSettings.h"

// The secure-shell server's port, from the first of these that names one:
// 1. the server's own view of its configuration ("sshd -T"), when we may run it (as root);
// 2. the first "Port" of /etc/ssh/sshd_config, following its "Include" lines in place;
// 3. the first "ListenStream" of systemd's ssh.socket, drop-ins applied.
class KCLinuxSshdSettings final : public KCSshdSettings {
public:
    // root: where the file system starts ("/" on this machine); runner: how "sshd -T" runs;
    // mayRunServer: whether to try it at all.
    KCLinuxSshdSettings(const QString &root, const KCCommandRunner &runner, bool mayRunServer);

    std::optional<QString> listenerValue() const override;

    std::optional<QString> serverReportedPort() const;
    std::optional<QString> configurationFilePort() const;
    std::optional<QString> socketUnitListener() const;

private:
    std::optional<QString> portInConfigurationFile(const QString &path, int depth) const;

    QString m_root;
    const KCCommandRunner &m_runner;
    bool m_mayRunServer;
};
