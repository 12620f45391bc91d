#pragma once

#include "KCRequestParameters.h"

#include <QString>
#include <QVariant>

// One-line text of a property-list value for log lines and service events: strings quoted,
// numbers in decimal, booleans as true or false, lists in brackets and dictionaries in braces.
// Ordered parameters keep their order; other dictionaries list their keys sorted.
namespace KCPropertyListDescription {
QString describe(const QVariant &value);
QString describe(const KCRequestParameters &parameters);
} // namespace KCPropertyListDescription
