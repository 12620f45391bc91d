#pragma once

#include "KCError.h"
#include "KCHTTPRequest.h"
#include "KCRequestParameters.h"

#include <QString>
#include <QVariant>
#include <optional>

// Building and sending the form-encoded POST requests both programs send to the account web
// service, and checking the server identity (UUID and bundleID) every such request carries.
class KCHTTPUtils {
public:
    KCHTTPUtils() = delete;

    // Process-wide configuration, set once at start from the configuration file.
    //
    // The account web service's base URL ("https://HOST/app/6.0"): requests whose URL begins with
    // it must carry a valid server identity. Empty (the default): no URL needs one.
    static void setAccountServiceBaseURL(const QString &baseURL);
    static QString accountServiceBaseURL();
    // A PEM (or DER) file of certificate authorities trusted in addition to the system's own, for
    // a service whose certificate no public authority signed. An empty path trusts the system's
    // authorities only. A file that cannot be read or holds no certificate is an error in
    // "NSCocoaErrorDomain" (KCJSONErrorDomain): 260 no such file, 257 not readable, 259 no
    // certificate in it; the trusted set then stays as it was. Verification itself can never be
    // turned off.
    static std::optional<KCError> setAdditionalCertificateAuthorityFile(const QString &path);

    // Exactly 32 hexadecimal characters (either case) once white space is trimmed from both ends.
    static bool isValidKovraConnectUUID(const QVariant &value);
    // At least two dot-separated labels of letters, digits and hyphens, none starting with a
    // hyphen, once white space is trimmed from both ends.
    static bool isValidBundleIdentifier(const QVariant &value);
    // Both UUID and bundleID of the parameters are valid.
    static bool isValidServerIdentityInParameters(const KCRequestParameters &params);

    // A POST of the parameters as a form body, fields in the parameters' order: "key=value",
    // "key[]=element" per element of a list, "key[subkey]=value" per entry of a dictionary. Keys
    // are never escaped. Values are percent-encoded with URLHostAllowedCharacterSet when the
    // top-level key ends in "_uha", else with URLParameterAllowedCharacterSet; before that, every
    // "+" of a plain value, a list element or a sub-key becomes "%2b" (dictionary values keep
    // theirs). Numbers go out in decimal, booleans as 1 or 0.
    // None (and a log line) when the URL lies under the account service and the parameters' server
    // identity is invalid.
    static std::optional<KCHTTPRequest> createPostURLRequest(const QString &urlString, const KCRequestParameters &params);

    // Sends the request and calls the completion exactly once, always on the main thread (the
    // thread of the QCoreApplication), whichever thread this is called on:
    //   - no request, an invalid URL: at once, with KCURLErrorBadURL; not HTTP(S): KCURLErrorUnsupportedURL;
    //   - a reply body, whatever the HTTP status: the body parsed as JSON (any top-level value), or
    //     the parse error (KCJSONErrorDomain, KCJSONErrorCorruptData), an empty body included;
    //   - no body (refused, reset, timed out, TLS failure): the transport error in KCURLErrorDomain,
    //     so callers can retry;
    //   - a body over KCHTTPMaximumReplyBodySize: cut off, KCURLErrorDataLengthExceedsMaximum.
    // Needs the main thread's event loop to run. Redirects are not followed.
    static void sendAsynchronousRequest(const std::optional<KCHTTPRequest> &request, KCHTTPCompletion onComplete);

    // A form value safe to embed in another form value: percent-encoded with
    // URLHostAllowedCharacterSet, then "&" as "%26" and "+" as "%2b".
    static QString escapeCharacters(const QString &string);

    // A copy with white space trimmed from both ends of every string and every dictionary key, in
    // lists and dictionaries at any depth. Entries whose trimmed key is "password" or "fb_uha" are
    // left out of dictionaries: a password is sent exactly as the user gave it, so the caller puts
    // the original back. Numbers and anything else come back unchanged.
    static QVariant trimmedRequestParameter(const QVariant &value);
    static KCRequestParameters trimmedRequestParameters(const KCRequestParameters &params);
};
