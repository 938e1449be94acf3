#include "sync/CopyRules.h"

#include "common/Error.h"

#include <cstdio>
#include <string>

namespace vela {

namespace {

const char* ruleName(Rule rule) {
    switch (rule) {
    case Rule::Integer:
        return "Integer";
    case Rule::Smallint:
        return "SmallInt";
    case Rule::String:
        return "String";
    case Rule::Timestamp:
        return "TimeStamp";
    case Rule::Currency:
        return "Currency";
    case Rule::Bcd:
        return "BCD";
    case Rule::Date:
        return "Date";
    }
    return "Unknown";
}

bool readable(const Column& c, Rule rule) {
    switch (rule) {
    case Rule::Integer:
        return c.type == SQL_LONG && c.scale == 0;
    case Rule::Smallint:
        // Some back offices widened their flag columns to INTEGER; the range is checked on write.
        return (c.type == SQL_SHORT || c.type == SQL_LONG) && c.scale == 0;
    case Rule::String:
        return c.type == SQL_TEXT || c.type == SQL_VARYING;
    case Rule::Timestamp:
        return c.type == SQL_TIMESTAMP;
    case Rule::Currency:
        return c.type == SQL_DOUBLE || c.type == SQL_FLOAT || c.type == SQL_D_FLOAT;
    case Rule::Bcd:
        return (c.type == SQL_INT64 || c.type == SQL_LONG || c.type == SQL_SHORT) && c.scale < 0;
    case Rule::Date:
        return c.type == SQL_TYPE_DATE;
    }
    return false;
}

} // namespace

void checkDeclaredType(const Column& column, std::string_view field, Rule rule) {
    if (!readable(column, rule))
        throw Error("Type mismatch for field '" + std::string(field) + "', expecting: " + ruleName(rule) +
                    " actual: " + typeName(column));
}

ISC_TIMESTAMP nullTimestamp() {
    static const ISC_TIMESTAMP ts{fb::util()->encodeDate(1, 1, 1), 0};
    return ts;
}

ISC_DATE nullDate() {
    static const ISC_DATE d = fb::util()->encodeDate(1899, 12, 30);
    return d;
}

std::string_view readString(const Message& source, size_t from) {
    if (source.isNull(from))
        return {};
    std::string_view bytes = source.getBytes(from);
    size_t zero = bytes.find('\0');
    return zero == std::string_view::npos ? bytes : bytes.substr(0, zero);
}

void copyField(const Message& source, size_t from, Message& target, size_t to, Rule rule, unsigned size) {
    const bool null = source.isNull(from);
    switch (rule) {
    case Rule::Integer:
        target.setInt64(to, null ? 0 : source.getInt64(from));
        break;
    case Rule::Smallint: {
        std::int64_t v = null ? 0 : source.getInt64(from);
        if (v < -32768 || v > 32767) {
            char text[256];
            std::snprintf(text, sizeof text, "%g is not a valid value for field '%s'. The allowed range is %g to %g",
                          static_cast<double>(v), target.column(to).name.c_str() + 4, -32768.0, 32767.0);
            throw Error(text);
        }
        target.setInt64(to, v);
        break;
    }
    case Rule::String: {
        std::string_view bytes = readString(source, from);
        if (size && bytes.size() > size)
            bytes = bytes.substr(0, size);
        target.setBytes(to, bytes);
        break;
    }
    case Rule::Timestamp:
        target.setTimestamp(to, null ? nullTimestamp() : source.getTimestamp(from));
        break;
    case Rule::Currency:
        target.setDouble(to, null ? 0.0 : source.getDouble(from));
        break;
    case Rule::Bcd:
        // Carried exactly as hundredths, the scale of every BCD column here.
        target.setInt64(to, null ? 0 : source.getScaled(from, -2), -2);
        break;
    case Rule::Date:
        target.setDate(to, null ? nullDate() : source.getDate(from));
        break;
    }
}

} // namespace vela
