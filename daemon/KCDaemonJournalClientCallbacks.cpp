#include "KCDaemonJournalClientCallbacks.h"

#include "KCLog.h"

void KCDaemonJournalClientCallbacks::logServiceEvent(const QString &message)
{
    qCInfo(lcKC).noquote() << message;
}
