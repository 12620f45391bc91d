#pragma once

#include <QJsonValue>
#include <QString>
#include <QVariant>

#include <optional>

// JSON that keeps a value's kind: each value is an object with one member whose name is the kind,
// {"integer": 5}, {"real": 5}, {"bool": true}, {"string": "x"}, {"array": [...]},
// {"dictionary": {...}}. Plain JSON cannot tell 5 from 5.0, and settings readers check kinds.
namespace KCTaggedJson {

// Containers nested deeper than this are refused, so a crafted file cannot exhaust the stack.
inline constexpr int MaxDepth = 64;

// None for a value the store cannot keep: another type, or a real that is not finite.
std::optional<QJsonValue> encode(const QVariant &value);
// None for anything that is not exactly the encoding above; error says what and where.
std::optional<QVariant> decode(const QJsonValue &json, QString *error);

} // namespace KCTaggedJson
