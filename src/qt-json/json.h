#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// JSON text to a QVariant tree and back. The reader is lenient: missing,
// repeated and trailing commas are accepted, text after the first value is
// ignored, and a keyword is recognised by its first letters alone.
namespace QtJson {

enum JsonToken {
    JsonTokenNone = 0,
    JsonTokenCurlyOpen = 1,
    JsonTokenCurlyClose = 2,
    JsonTokenSquaredOpen = 3,
    JsonTokenSquaredClose = 4,
    JsonTokenColon = 5,
    JsonTokenComma = 6,
    JsonTokenString = 7,
    JsonTokenNumber = 8,
    JsonTokenTrue = 9,
    JsonTokenFalse = 10,
    JsonTokenNull = 11,
};

// Objects and arrays nested deeper than this fail to parse (the reader is
// recursive; a hostile document must not exhaust the stack).
constexpr int MaxNestingDepth = 512;

QVariant parse(const QString& json);
QVariant parse(const QString& json, bool& success);

QByteArray serialize(const QVariant& data);
QByteArray serialize(const QVariant& data, bool& success);
QString serializeStr(const QVariant& data);
QString serializeStr(const QVariant& data, bool& success);

} // namespace QtJson
