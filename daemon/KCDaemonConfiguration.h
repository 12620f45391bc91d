#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// Where the daemon finds the account service and keeps its state, from an INI file:
//
//   [Service]
//   BaseURL=https://accounts.example.org/app/6.0   (http or https; the path ends in /app/6.0)
//   CAFile=/etc/kovra-connect/ca.pem               (optional extra certificate authority)
//   [Daemon]
//   StateDirectory=/var/lib/com.fendrel.kovra.connect
//
// Missing keys take the installed system's defaults.
class KCDaemonConfiguration {
public:
    // The defaults of an installed system.
    KCDaemonConfiguration();

    // Reads the file. A missing file gives the defaults unless mustExist is set (a file named on
    // the command line that is not there is a mistake, not a wish for defaults). None, with the
    // reason in error, for a file that cannot be read or holds a malformed value. Keys the
    // daemon does not know are named in warnings.
    static std::optional<KCDaemonConfiguration> load(const QString &path, bool mustExist, QString *error,
                                                     QStringList *warnings);

    QUrl baseURL() const { return m_baseURL; }
    // Empty when the system's certificate authorities alone are trusted.
    QString caFile() const { return m_caFile; }
    QString stateDirectory() const { return m_stateDirectory; }

private:
    QUrl m_baseURL;
    QString m_caFile;
    QString m_stateDirectory;
};
