// The application object's conversation with the account service: the update that tells it how
// every account's machine is reached, the per-account answers, the retry of a failed update, and
// the sign-out when an account is removed.

#include "KCDaemonApplicationMain.h"

#include "KCDaemonKeychainAccess.h"
#include "KCHTTPUtils.h"
#include "KCIPv4Address.h"
#include "KCLog.h"
#include "KCOperatingSystemVersion.h"
#include "KCPropertyListDescription.h"

#include <QPointer>
#include <QScopeGuard>

namespace {

const QString UpdateEndpoint = QStringLiteral("/computer/update.php");
const QString SignOutEndpoint = QStringLiteral("/computer/signout.php");
const QString PasswordKey = QStringLiteral("password");
const QString PasswordHostEncodedKey = QStringLiteral("fb_uha");
const QString AccountsKey = QStringLiteral("kovraID");
constexpr qint64 SignedOutStatusCode = 22;

// The service's per-account answers that are failures the client must hear about.
constexpr qint64 WrongPasswordCode = 20;
constexpr qint64 UnverifiedCode = 25;
constexpr qint64 UnregisteredCode = 29;

// The integer a JSON number stands for; none for anything else (strings, booleans, fractions).
std::optional<qint64> integralNumber(const QVariant &value)
{
    switch (value.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return value.toLongLong();
    case QMetaType::Double: {
        const double number = value.toDouble();
        if (number >= -9.0e15 && number <= 9.0e15 && number == double(qint64(number)))
            return qint64(number);
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

KCRequestParameters withoutPasswords(KCRequestParameters parameters)
{
    parameters.remove(PasswordKey);
    parameters.remove(PasswordHostEncodedKey);
    return parameters;
}

} // namespace

// The passwords of the accounts, read before anything changes, so that a keychain that cannot
// be read leaves every account as it was.
struct KCDaemonApplicationMain::StoredPasswords {
    // Every account in status order, with its password or none when the keychain has no item.
    QList<std::pair<QString, std::optional<QString>>> accounts;
};

std::optional<KCDaemonApplicationMain::StoredPasswords> KCDaemonApplicationMain::readPasswordsForUpdate()
{
    StoredPasswords stored;
    for (const QString &account : _accountStatus.keys()) {
        KCKeychainStatus status = KCKeychainStatusCode::Success;
        const auto password = KCDaemonKeychainAccessCopyPassword(*_environment.keychain, account, &status);
        if (!password && status != KCKeychainStatusCode::ItemNotFound)
            return std::nullopt;
        stored.accounts.append({account, password});
    }
    return stored;
}

void KCDaemonApplicationMain::sendUpdateToServer(std::function<void()> completed)
{
    // Whoever waits for this update hears at once when no request goes out.
    auto notSent = qScopeGuard([&completed] {
        if (completed)
            completed();
    });
    _updateRetryTimer->stop();
    if (_accountStatus.isEmpty() && _kcServices.empty()) {
        logServiceEvent(QStringLiteral("No accounts so not sending an update. This shouldn't occur!"));
        return;
    }

    // Not being able to read the keychain says nothing about the accounts: none is removed for
    // it, and the update waits for a keychain that answers.
    const auto stored = readPasswordsForUpdate();
    if (!stored) {
        qCWarning(lcKC).noquote() << QStringLiteral("Cannot read the accounts' passwords from the system keychain. Retrying in %1 seconds")
                                         .arg(QString::number(double(UpdateRetryInterval.count()), 'f', 1));
        _updateRetryTimer->start(UpdateRetryInterval);
        return;
    }

    QStringList accounts;
    QStringList passwords;
    for (const auto &[account, password] : stored->accounts) {
        if (password) {
            accounts.append(account);
            passwords.append(*password);
            continue;
        }
        removeAccount(account);
        logServiceEvent(QStringLiteral("Removed Kovra Connect account: %1").arg(account));
        _environment.client->kovraIdError(account, KCError::withFailureReason(KCDaemonErrorDomain, WrongPasswordCode,
                                                                              QStringLiteral("Password cannot be empty")));
    }
    if (accounts.isEmpty())
        return;
    sendStatusToClient();

    const KCRequestParameters parameters = updateParameters(accounts, passwords);
    if (!KCHTTPUtils::isValidServerIdentityInParameters(parameters)) {
        logServiceEvent(QStringLiteral("Not sending update because the server identity is invalid."));
        return;
    }
    if (_lastSentDict && *_lastSentDict == parameters) {
        logServiceEvent(QStringLiteral("No changes detected so not sending update..."));
        return;
    }

    // The accounts show as updating only while an update is on its way: one that is not sent
    // leaves the statuses of the last answer in place, rather than "updating" for ever.
    for (const QString &account : std::as_const(accounts))
        _accountStatus.insert(account, KCDaemonStatusAccountUpdating);
    sendStatusToClient();

    _lastSentDict.reset();
    logServiceEvent(QStringLiteral("Sending update: %1").arg(KCPropertyListDescription::describe(withoutPasswords(parameters))));
    notSent.dismiss();
    sendServiceRequest(UpdateEndpoint, parameters, [this, parameters, completed = std::move(completed)](const QVariant &answer, const std::optional<KCError> &error) {
        updateAnswered(parameters, answer, error);
        if (completed)
            completed();
    });
}

KCRequestParameters KCDaemonApplicationMain::updateParameters(const QStringList &accounts, const QStringList &passwords)
{
    const KCDaemonSystemInformation::Sources &sources = _systemInfo->sources();
    KCDaemonKCService *first = firstService();
    KCDaemonPortMapper *firstMapper = first ? first->portMapper() : nullptr;

    KCRequestParameters parameters;
    parameters.insert(AccountsKey, accounts);
    parameters.insert(PasswordKey, passwords);
    parameters.insert(PasswordHostEncodedKey, passwords);
    // The service takes the computer name escaped once more than any other value.
    parameters.insert(QStringLiteral("ComputerName"), KCHTTPUtils::escapeCharacters(_systemInfo->computerName()));
    parameters.insert(QStringLiteral("LocalHostname"), _systemInfo->localHostname());

    if (firstMapper)
        collectUPNPIGDDiscoveryDiagnosticsIfNeededForPortMapper(firstMapper, false);

    parameters.insert(QStringLiteral("IPAddress"), KCIPv4Address::toString(firstMapper ? firstMapper->externalAddress() : 0));
    QVariantMap ports;
    QVariantMap customAddresses;
    QVariantMap backends;
    for (const QString &account : accounts) {
        const auto found = _kcServices.find(account);
        const KCDaemonPortMapper *mapper = found != _kcServices.end() ? found->second.portMapper() : nullptr;
        if (isAutomaticMode()) {
            ports.insert(account, qint64(mapper ? mapper->externalPort() : 0));
            customAddresses.insert(account, QString());
            if (mapper)
                backends.insert(account, mapper->portMappingBackendName());
        } else if (found != _kcServices.end()) {
            ports.insert(account, _settings->customPort());
            customAddresses.insert(account, _settings->customAddress());
            backends.insert(account, QStringLiteral("manual"));
        }
    }
    parameters.insert(QStringLiteral("KCServicePort"), ports);
    parameters.insert(QStringLiteral("KCServiceCustomAddress"), customAddresses);
    parameters.insert(QStringLiteral("KCServiceBackend"), backends);

    parameters.insert(QStringLiteral("MacAddress"), macAddressWithoutColons());
    parameters.insert(QStringLiteral("LastKeyboardLocale"), _settings->lastKeyboardLocale());
    parameters.insert(QStringLiteral("HotKeys"), _settings->hotKeys());
    parameters.insert(QStringLiteral("manualMode"), _settings->manualMode());

    // A description from the router answering now wins; a stored one is sent only while this
    // machine is still behind the router it describes.
    QString routerInfo;
    const auto described = routerInfoFromUPNPIGDDiscoveryDiagnostics(firstMapper ? firstMapper->upnpIGDDiscoveryDiagnostics() : QVariantMap());
    if (described && !described->isEmpty()) {
        _settings->setRouterInfo(*described);
        routerInfo = *described;
    } else if (routerInfoMatchesCurrentRouter(_settings->routerInfo())) {
        routerInfo = _settings->routerInfo();
    }
    parameters.insert(QStringLiteral("rm"), routerInfo);

    parameters.insert(QStringLiteral("versionInfo"), _settings->versionInfo());
    parameters.insert(QStringLiteral("bundleID"), BundleID);
    parameters.insert(QStringLiteral("vncPort"), _settings->vncPort());
    parameters.insert(QStringLiteral("sshPort"), _settings->sshPort());
    parameters.insert(QStringLiteral("UUID"), _settings->UUID());
    parameters.insert(QStringLiteral("serviceLastErrorType"), qint64(_lastServiceErrorType));
    parameters.insert(QStringLiteral("awakeStatus"), _sleepStatus);
    parameters.insert(QStringLiteral("lastMappingStatus"), _lastMappingStatus);
    parameters.insert(QStringLiteral("ttl"), qint64(firstMapper ? firstMapper->ttl() : 0));
    parameters.insert(QStringLiteral("localIPAddress"), KCDaemonSystemInformation::privateIPAddress(sources).value_or(QStringLiteral("n/a")));
    parameters.insert(QStringLiteral("osversion"), KCOperatingSystemVersion::versionString(_environment.fileSystemRoot));
    parameters.insert(QStringLiteral("MappedService"), _settings->useSSH() ? QStringLiteral("ssh") : QStringLiteral("vnc"));

    // Every value goes out trimmed except the passwords, which are sent exactly as the user gave
    // them; the fields keep their order.
    const KCRequestParameters trimmed = KCHTTPUtils::trimmedRequestParameters(parameters);
    KCRequestParameters result;
    for (const auto &[key, value] : parameters)
        result.insert(key, key == PasswordKey || key == PasswordHostEncodedKey ? value : trimmed.value(key));
    return result;
}

void KCDaemonApplicationMain::updateAnswered(const KCRequestParameters &sent, const QVariant &answer,
                                             const std::optional<KCError> &error)
{
    if (error) {
        qCWarning(lcKC).noquote() << QStringLiteral("Failed to update with the Kovra Connect server. Retrying in %1 seconds")
                                         .arg(QString::number(double(UpdateRetryInterval.count()), 'f', 1));
        logServiceEvent(QStringLiteral("Failed to send update to server."));
        _environment.client->updateError(*error, answer);
        _updateRetryTimer->start(UpdateRetryInterval);
        return;
    }

    _lastSentDict = sent;
    const QVariantMap answers = answer.metaType().id() == QMetaType::QVariantMap ? answer.toMap() : QVariantMap();
    // Only the accounts the update named: one added while it was on its way is not the
    // service's to judge yet.
    const QStringList sentAccounts = sent.value(AccountsKey).toStringList();
    for (const QString &account : _accountStatus.keys()) {
        if (!sentAccounts.contains(account))
            continue;
        const std::optional<qint64> code = integralNumber(answers.value(account));
        std::optional<KCError> accountError;
        if (code == 0) {
            _accountStatus.insert(account, KCDaemonStatusAccountUpdated);
        } else if (code == WrongPasswordCode) {
            _accountStatus.insert(account, KCDaemonStatusAccountPasswordMismatch);
            accountError = KCError::withFailureReason(KCDaemonErrorDomain, *code, QStringLiteral("Wrong password"));
        } else if (code == UnverifiedCode) {
            _accountStatus.insert(account, KCDaemonStatusAccountUnverified);
            accountError = KCError::withFailureReason(KCDaemonErrorDomain, *code, QStringLiteral("Kovra Account unverified"));
        } else if (code == UnregisteredCode) {
            _accountStatus.insert(account, KCDaemonStatusAccountUnregistered);
            accountError = KCError::withFailureReason(KCDaemonErrorDomain, *code, QStringLiteral("Computer Unregistered"));
        } else {
            _accountStatus.insert(account, KCDaemonStatusAccountNotFound);
        }
        if (accountError) {
            logServiceEvent(QStringLiteral("Update error: %1").arg(accountError->localizedDescription()));
            _environment.client->kovraIdError(account, *accountError);
        }
    }
    logServiceEvent(QStringLiteral("Update sent: %1").arg(KCPropertyListDescription::describe(answer)));
    sendStatusToClient();
}

bool KCDaemonApplicationMain::removeAccount(const QString &account)
{
    KCKeychainStatus passwordStatus = KCKeychainStatusCode::Success;
    const auto password = KCDaemonKeychainAccessCopyPassword(*_environment.keychain, account, &passwordStatus);
    const QString macAddress = macAddressWithoutColons();
    const KCRequestParameters identity{{QStringLiteral("UUID"), _settings->UUID()}, {QStringLiteral("bundleID"), BundleID}};
    const bool signOut = password && !macAddress.isEmpty() && KCHTTPUtils::isValidServerIdentityInParameters(identity);
    const bool known = _accountStatus.contains(account)
        || KCDaemonKeychainAccessCopyAccountList(*_environment.keychain, *_environment.store).contains(account);

    // A name the daemon never held gets no status of its own.
    if (known)
        _accountStatus.insert(account, KCDaemonStatusAccountSigningOut);
    _lastSentDict.reset();

    if (signOut) {
        const KCRequestParameters parameters{
            {AccountsKey, account},
            {PasswordKey, *password},
            {PasswordHostEncodedKey, *password},
            {QStringLiteral("MacAddress"), macAddress},
            {QStringLiteral("UUID"), _settings->UUID()},
            {QStringLiteral("bundleID"), BundleID},
        };
        sendServiceRequest(SignOutEndpoint, parameters, [](const QVariant &answer, const std::optional<KCError> &error) {
            const QVariant statusCode = answer.metaType().id() == QMetaType::QVariantMap ? answer.toMap().value(QStringLiteral("statusCode")) : QVariant();
            if (!error && integralNumber(statusCode) == SignedOutStatusCode)
                return;
            const QString reason = error ? error->localizedDescription() : KCPropertyListDescription::describe(statusCode);
            qCWarning(lcKC).noquote() << QStringLiteral("Could not sign out account from server : %1").arg(reason);
        });
    }

    const bool deleted = KCDaemonKeychainAccessRemoveAccount(*_environment.keychain, *_environment.store, account);
    // An account whose item was already gone is removed all the same once its name has left the
    // list: otherwise it would stay signing out, and impossible to remove, until a restart.
    if (!deleted && !(known && passwordStatus == KCKeychainStatusCode::ItemNotFound)) {
        qCWarning(lcKC).noquote() << QStringLiteral("Remove KC Account failed");
        return false;
    }

    logServiceEvent(QStringLiteral("Removed account (%1)").arg(account));
    _accountStatus.remove(account);
    removePortMapping(account);
    sendStatusToClient();
    if (KCDaemonKeychainAccessCopyAccountList(*_environment.keychain, *_environment.store).isEmpty())
        removeAllPortMappings();
    return true;
}

void KCDaemonApplicationMain::sendServiceRequest(const QString &endpoint, const KCRequestParameters &parameters,
                                                 std::function<void(const QVariant &, const std::optional<KCError> &)> completion)
{
    std::optional<KCHTTPRequest> request = KCHTTPUtils::createPostURLRequest(KCHTTPUtils::accountServiceBaseURL() + endpoint, parameters);
    if (request)
        request->networkRequest.setTransferTimeout(int(_environment.accountServiceTransferTimeout.count()));
    // An answer that arrives after the daemon is gone has nobody to tell.
    QPointer<KCDaemonApplicationMain> self(this);
    KCHTTPUtils::sendAsynchronousRequest(request, [self, completion = std::move(completion)](const QVariant &reply, const std::optional<KCError> &error) {
        if (self)
            completion(reply, error);
    });
}

QString KCDaemonApplicationMain::macAddressWithoutColons() const
{
    return KCDaemonSystemInformation::macAddressHexString(true, _systemInfo->sources());
}
