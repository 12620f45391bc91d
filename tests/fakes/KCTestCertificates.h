#pragma once

#include <QString>
#include <optional>

// A certificate authority made for one test run and a server certificate it signed for
// 127.0.0.1 and localhost, as PEM files in a folder the test owns. Made with the openssl tool.
struct KCTestCertificates {
    QString authorityCertificate;
    QString serverCertificate;
    QString serverKey;

    // None, with openssl's complaint in *error, when the files could not be made.
    static std::optional<KCTestCertificates> generate(const QString &folder, QString *error);
};
