#pragma once

#include <QString>

#include <functional>

// The system's authorisation service: may the process behind a bus name perform an action?
// The bus vouches for the name, so no reused process id can stand in for another caller.
class KCPolkitAuthority {
public:
    enum class Result {
        Authorized,
        NotAuthorized,
        // Authorised only after the user authenticates, which the caller did not allow.
        Challenge,
        // The service answered with an error or not at all in time.
        Error,
        // No authorisation service on the bus; only root may then be trusted.
        Unavailable,
    };
    struct Answer {
        Result result = Result::Error;
        // What went wrong, for the log, when the result is Error or Unavailable.
        QString errorMessage;
    };
    using Completion = std::function<void(const Answer &)>;
    using CheckId = quint64;

    virtual ~KCPolkitAuthority() = default;

    // Asks about the caller with that unique bus name. With allowInteraction the service may ask the
    // user to authenticate first, which can take as long as the user takes. The completion runs
    // once on this thread, later, never within the call; not at all after cancelCheck() or once
    // the authority is gone.
    virtual CheckId checkAuthorization(const QString &busName, const QString &actionId, bool allowInteraction,
                                       Completion completion) = 0;
    // Withdraws a check whose answer is no longer wanted (its caller left), so an authentication
    // dialog it opened goes away.
    virtual void cancelCheck(CheckId check) = 0;
};
