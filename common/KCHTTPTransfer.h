#pragma once

#include "KCHTTPRequest.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QTimer>

class QNetworkAccessManager;
class QNetworkReply;

// One POST in flight: sends it, collects the reply body up to its size cap, enforces the overall
// deadline and calls the completion exactly once, on the manager's thread, with the parsed JSON
// reply or the error. It deletes itself when done.
class KCHTTPTransfer : public QObject {
    Q_OBJECT

public:
    // trustedAuthorities: the certificate authorities to verify the server against, or empty for
    // the system's own set.
    static void start(QNetworkAccessManager &manager, const KCHTTPRequest &request,
                      const QList<QSslCertificate> &trustedAuthorities, KCHTTPCompletion completion);

private:
    enum class AbortReason { None, Oversized, DeadlinePassed };

    KCHTTPTransfer(QNetworkAccessManager &manager, QNetworkReply *reply, int transferTimeout, KCHTTPCompletion completion);

    bool collectBody();
    KCError oversizedError() const;
    void onMetaDataChanged();
    void onReadyRead();
    void onFinished();
    void abortFor(AbortReason reason);
    void complete(const QVariant &reply, const std::optional<KCError> &error);

    QNetworkReply *_reply;
    QString _urlString;
    QByteArray _body;
    QTimer _deadline;
    AbortReason _abortReason = AbortReason::None;
    bool _certificateRejected = false;
    bool _completed = false;
    KCHTTPCompletion _completion;
};
