#include "KCCharacterSet.h"

#include <QByteArray>

KCCharacterSet KCCharacterSet::alphanumericsAnd(std::string_view characters)
{
    KCCharacterSet set;
    for (char c = 'A'; c <= 'Z'; ++c)
        set._allowed.set(size_t(c));
    for (char c = 'a'; c <= 'z'; ++c)
        set._allowed.set(size_t(c));
    for (char c = '0'; c <= '9'; ++c)
        set._allowed.set(size_t(c));
    for (char c : characters) {
        if (static_cast<unsigned char>(c) < 128)
            set._allowed.set(size_t(c));
    }
    return set;
}

KCCharacterSet KCCharacterSet::URLQueryAllowedCharacterSet()
{
    return alphanumericsAnd("!$&'()*+,-./:;=?@_~");
}

KCCharacterSet KCCharacterSet::URLHostAllowedCharacterSet()
{
    return alphanumericsAnd("!$&'()*+,-.:;=[]_~");
}

KCCharacterSet KCCharacterSet::URLParameterAllowedCharacterSet()
{
    return URLQueryAllowedCharacterSet().removingCharacters("&?=+#/:");
}

KCCharacterSet KCCharacterSet::removingCharacters(std::string_view characters) const
{
    KCCharacterSet set = *this;
    for (char c : characters) {
        if (static_cast<unsigned char>(c) < 128)
            set._allowed.reset(size_t(c));
    }
    return set;
}

bool KCCharacterSet::contains(QChar character) const
{
    return character.unicode() < 128 && _allowed.test(character.unicode());
}

QString KCCharacterSet::percentEncode(const QString &text) const
{
    static constexpr char hex[] = "0123456789ABCDEF";
    const QByteArray utf8 = text.toUtf8();
    QString encoded;
    encoded.reserve(utf8.size());
    for (char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 128 && _allowed.test(byte)) {
            encoded += QLatin1Char(c);
        } else {
            encoded += QLatin1Char('%');
            encoded += QLatin1Char(hex[byte >> 4]);
            encoded += QLatin1Char(hex[byte & 0x0f]);
        }
    }
    return encoded;
}
