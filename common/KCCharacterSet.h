#pragma once

#include <QString>
#include <bitset>
#include <string_view>

// A set of printable ASCII characters allowed to appear unescaped in a URL component. Everything
// else, and every non-ASCII character, is written as the percent-encoded bytes of its UTF-8 form.
class KCCharacterSet {
public:
    // The letters A-Z and a-z, the digits and the given ASCII characters.
    static KCCharacterSet alphanumericsAnd(std::string_view characters);

    // What may stand unescaped in a URL query: ! $ & ' ( ) * + , - . / : ; = ? @ _ ~
    static KCCharacterSet URLQueryAllowedCharacterSet();
    // What may stand unescaped in a URL host: ! $ & ' ( ) * + , - . : ; = [ ] _ ~
    static KCCharacterSet URLHostAllowedCharacterSet();
    // The query set less "&?=+#/:", so a form value can never end a field, start another or
    // change the URL's structure: ! $ ' ( ) * , - . ; @ _ ~
    static KCCharacterSet URLParameterAllowedCharacterSet();

    KCCharacterSet removingCharacters(std::string_view characters) const;
    bool contains(QChar character) const;

    // Each allowed character as it is; every other one as %XX per UTF-8 byte, XX upper-case hex.
    QString percentEncode(const QString &text) const;

    friend bool operator==(const KCCharacterSet &, const KCCharacterSet &) = default;

private:
    std::bitset<128> _allowed;
};
