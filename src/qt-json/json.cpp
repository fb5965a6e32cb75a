#include "qt-json/json.h"

#include <QStringList>
#include <QVariantHash>
#include <QVariantList>
#include <QVariantMap>

#include <cmath>

namespace QtJson {
namespace {

    class Reader
    {
    public:
        explicit Reader(const QString& json)
            : m_json(json)
        {
        }

        QVariant parseValue(bool& success)
        {
            switch (lookAhead()) {
            case JsonTokenString:
                return parseString(success);
            case JsonTokenNumber:
                return parseNumber();
            case JsonTokenCurlyOpen:
                return parseObject(success);
            case JsonTokenSquaredOpen:
                return parseArray(success);
            case JsonTokenTrue:
                nextToken();
                return QVariant(true);
            case JsonTokenFalse:
                nextToken();
                return QVariant(false);
            case JsonTokenNull:
                nextToken();
                return QVariant();
            default:
                break;
            }
            success = false;
            return QVariant();
        }

    private:
        void eatWhitespace()
        {
            while (m_index < m_json.size()) {
                const QChar c = m_json.at(m_index);
                if (c != QLatin1Char(' ') && c != QLatin1Char('\t') && c != QLatin1Char('\n') && c != QLatin1Char('\r'))
                    break;
                ++m_index;
            }
        }

        JsonToken nextToken()
        {
            eatWhitespace();
            if (m_index >= m_json.size())
                return JsonTokenNone;

            const char c = m_json.at(m_index).toLatin1();
            JsonToken single = JsonTokenNone;
            switch (c) {
            case '"':
                single = JsonTokenString;
                break;
            case ',':
                single = JsonTokenComma;
                break;
            case ':':
                single = JsonTokenColon;
                break;
            case '[':
                single = JsonTokenSquaredOpen;
                break;
            case ']':
                single = JsonTokenSquaredClose;
                break;
            case '{':
                single = JsonTokenCurlyOpen;
                break;
            case '}':
                single = JsonTokenCurlyClose;
                break;
            case '-':
                single = JsonTokenNumber;
                break;
            default:
                if (c >= '0' && c <= '9')
                    single = JsonTokenNumber;
                break;
            }
            if (single != JsonTokenNone) {
                ++m_index;
                return single;
            }

            const int remaining = m_json.size() - m_index;
            const QStringRef rest = m_json.midRef(m_index);
            if (remaining >= 4 && rest.startsWith(QLatin1String("true"))) {
                m_index += 4;
                return JsonTokenTrue;
            }
            if (remaining >= 5 && rest.startsWith(QLatin1String("false"))) {
                m_index += 5;
                return JsonTokenFalse;
            }
            if (remaining >= 4 && rest.startsWith(QLatin1String("null"))) {
                m_index += 4;
                return JsonTokenNull;
            }
            return JsonTokenNone;
        }

        JsonToken lookAhead()
        {
            const int saved = m_index;
            const JsonToken token = nextToken();
            m_index = saved;
            return token;
        }

        // Guards the recursion of objects and arrays.
        struct DepthGuard
        {
            explicit DepthGuard(int& depth)
                : m_depth(depth)
            {
                ++m_depth;
            }
            ~DepthGuard() { --m_depth; }
            bool exceeded() const { return m_depth > MaxNestingDepth; }
            int& m_depth;
        };

        QVariant parseObject(bool& success)
        {
            DepthGuard guard(m_depth);
            QVariantMap map;
            if (guard.exceeded()) {
                success = false;
                return map;
            }
            nextToken(); // '{'
            for (;;) {
                const JsonToken token = lookAhead();
                if (token == JsonTokenNone) {
                    success = false;
                    return QVariantMap();
                }
                if (token == JsonTokenComma) {
                    nextToken();
                    continue;
                }
                if (token == JsonTokenCurlyClose) {
                    nextToken();
                    return map;
                }
                const QString key = parseString(success).toString();
                if (!success)
                    return QVariantMap();
                if (nextToken() != JsonTokenColon) {
                    success = false;
                    return QVariantMap();
                }
                const QVariant value = parseValue(success);
                if (!success)
                    return QVariantMap();
                map[key] = value;
            }
        }

        QVariant parseArray(bool& success)
        {
            DepthGuard guard(m_depth);
            QVariantList list;
            if (guard.exceeded()) {
                success = false;
                return list;
            }
            nextToken(); // '['
            for (;;) {
                const JsonToken token = lookAhead();
                if (token == JsonTokenNone) {
                    success = false;
                    return QVariantList();
                }
                if (token == JsonTokenComma) {
                    nextToken();
                    continue;
                }
                if (token == JsonTokenSquaredClose) {
                    nextToken();
                    return list;
                }
                const QVariant value = parseValue(success);
                if (!success)
                    return QVariantList();
                list.append(value);
            }
        }

        QVariant parseString(bool& success)
        {
            eatWhitespace();
            ++m_index; // the opening quote, whatever character stands there
            QString text;
            for (;;) {
                if (m_index >= m_json.size()) {
                    success = false;
                    return QVariant();
                }
                const QChar c = m_json.at(m_index++);
                if (c == QLatin1Char('"'))
                    return QVariant(text);
                if (c != QLatin1Char('\\')) {
                    text.append(c);
                    continue;
                }
                if (m_index >= m_json.size()) {
                    success = false;
                    return QVariant();
                }
                const QChar escaped = m_json.at(m_index++);
                switch (escaped.toLatin1()) {
                case '"':
                    text.append(QLatin1Char('"'));
                    break;
                case '\\':
                    text.append(QLatin1Char('\\'));
                    break;
                case '/':
                    text.append(QLatin1Char('/'));
                    break;
                case 'b':
                    text.append(QLatin1Char('\b'));
                    break;
                case 'f':
                    text.append(QLatin1Char('\f'));
                    break;
                case 'n':
                    text.append(QLatin1Char('\n'));
                    break;
                case 'r':
                    text.append(QLatin1Char('\r'));
                    break;
                case 't':
                    text.append(QLatin1Char('\t'));
                    break;
                case 'u': {
                    if (m_json.size() - m_index < 4) {
                        success = false;
                        return QVariant();
                    }
                    bool ok = false;
                    const ushort unit = m_json.midRef(m_index, 4).toUShort(&ok, 16);
                    text.append(QChar(ok ? unit : ushort(0)));
                    m_index += 4;
                    break;
                }
                default:
                    break; // unknown escapes are dropped
                }
            }
        }

        QVariant parseNumber()
        {
            eatWhitespace();
            static const QString numberChars = QStringLiteral("0123456789+-.eE");
            const int start = m_index;
            while (m_index < m_json.size() && numberChars.contains(m_json.at(m_index)))
                ++m_index;
            const QString number = m_json.mid(start, m_index - start);

            if (number.contains(QLatin1Char('.')))
                return QVariant(number.toDouble()); // 0.0 when unparsable

            bool ok = false;
            if (number.startsWith(QLatin1Char('-'))) {
                const int i = number.toInt(&ok);
                if (ok)
                    return QVariant(i);
                const qlonglong ll = number.toLongLong(&ok);
                if (ok)
                    return QVariant(ll);
            } else {
                const uint u = number.toUInt(&ok);
                if (ok)
                    return QVariant(u);
                const qulonglong ull = number.toULongLong(&ok);
                if (ok)
                    return QVariant(ull);
            }
            return QVariant(number);
        }

        const QString& m_json;
        int m_index = 0;
        int m_depth = 0;
    };

    QByteArray jsonString(const QString& text)
    {
        QString escaped = text;
        escaped.replace(QLatin1String("\\"), QLatin1String("\\\\"));
        escaped.replace(QLatin1String("\""), QLatin1String("\\\""));
        escaped.replace(QLatin1String("\b"), QLatin1String("\\b"));
        escaped.replace(QLatin1String("\f"), QLatin1String("\\f"));
        escaped.replace(QLatin1String("\n"), QLatin1String("\\n"));
        escaped.replace(QLatin1String("\r"), QLatin1String("\\r"));
        escaped.replace(QLatin1String("\t"), QLatin1String("\\t"));
        return "\"" + escaped.toUtf8() + "\"";
    }

    QByteArray serializeValue(const QVariant& data, bool& success, int depth);

    QByteArray serializeList(const QVariantList& list, bool& success, int depth)
    {
        QList<QByteArray> parts;
        for (const QVariant& element : list) {
            const QByteArray part = serializeValue(element, success, depth + 1);
            if (!success)
                return QByteArray();
            parts.append(part);
        }
        QByteArray joined;
        for (int i = 0; i < parts.size(); ++i) {
            if (i > 0)
                joined += ", ";
            joined += parts.at(i);
        }
        return "[ " + joined + " ]";
    }

    template <typename Map>
    QByteArray serializeMap(const Map& map, bool& success, int depth)
    {
        QByteArray joined;
        bool first = true;
        for (auto it = map.constBegin(); it != map.constEnd(); ++it) {
            const QByteArray value = serializeValue(it.value(), success, depth + 1);
            if (!success)
                return QByteArray();
            if (!first)
                joined += ", ";
            first = false;
            joined += jsonString(it.key()) + " : " + value;
        }
        return "{ " + joined + " }";
    }

    QByteArray serializeValue(const QVariant& data, bool& success, int depth)
    {
        if (depth > MaxNestingDepth) {
            success = false;
            return QByteArray();
        }
        const int type = data.userType();
        if (!data.isValid())
            return "null";
        if (type == QMetaType::QVariantList)
            return serializeList(data.toList(), success, depth);
        if (type == QMetaType::QStringList) {
            QVariantList list;
            const QStringList strings = data.toStringList();
            for (const QString& s : strings)
                list.append(s);
            return serializeList(list, success, depth);
        }
        if (type == QMetaType::QVariantHash)
            return serializeMap(data.toHash(), success, depth);
        if (type == QMetaType::QVariantMap)
            return serializeMap(data.toMap(), success, depth);
        if (type == QMetaType::QString || type == QMetaType::QByteArray)
            return jsonString(data.toString());
        if (type == QMetaType::Double || type == QMetaType::Float) {
            const double value = data.toDouble();
            if (!std::isfinite(value)) {
                success = false;
                return QByteArray();
            }
            QByteArray text = QByteArray::number(value, 'g', 20);
            if (!text.contains('.') && !text.contains('e'))
                text += ".0";
            return text;
        }
        if (type == QMetaType::Bool)
            return data.toBool() ? "true" : "false";
        if (type == QMetaType::ULongLong)
            return QByteArray::number(data.toULongLong());
        if (data.canConvert<qlonglong>())
            return QByteArray::number(data.toLongLong());
        if (data.canConvert<long>())
            return QByteArray::number(qlonglong(data.value<long>()));
        if (data.canConvert<QString>())
            return jsonString(data.toString());
        success = false;
        return QByteArray();
    }

} // namespace

QVariant parse(const QString& json)
{
    bool success = true;
    return parse(json, success);
}

QVariant parse(const QString& json, bool& success)
{
    success = true;
    if (json.isNull())
        return QVariant();
    Reader reader(json);
    return reader.parseValue(success);
}

QByteArray serialize(const QVariant& data)
{
    bool success = true;
    return serialize(data, success);
}

QByteArray serialize(const QVariant& data, bool& success)
{
    success = true;
    const QByteArray result = serializeValue(data, success, 0);
    return success ? result : QByteArray();
}

// QString::fromUtf8(QByteArray) stops at the first NUL; a serialised string
// may hold one, so the size is passed.
static QString utf8Text(const QByteArray& bytes)
{
    return QString::fromUtf8(bytes.constData(), bytes.size());
}

QString serializeStr(const QVariant& data)
{
    return utf8Text(serialize(data));
}

QString serializeStr(const QVariant& data, bool& success)
{
    return utf8Text(serialize(data, success));
}

} // namespace QtJson
