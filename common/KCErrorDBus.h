#pragma once

#include "KCError.h"

#include <QDBusArgument>
#include <QMetaType>

// An error crosses the bus as the structure (sia{sv}): domain, code, user info. The user info goes
// through KCDBusValue so nested values arrive as they were sent; codes outside the 32-bit range
// are clamped to it.
Q_DECLARE_METATYPE(KCError)

QDBusArgument &operator<<(QDBusArgument &argument, const KCError &error);
const QDBusArgument &operator>>(const QDBusArgument &argument, KCError &error);

// Registers KCError with Qt D-Bus. Call before the first message that carries one; calling again
// does nothing.
void KCRegisterErrorDBusType();
