#include "db/Message.h"

#include "common/Error.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>

namespace vela {

namespace {

std::string upper(std::string_view s) {
    std::string out(s);
    for (auto& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::int64_t pow10(int n) {
    std::int64_t p = 1;
    while (n-- > 0)
        p *= 10;
    return p;
}

template <typename T> T load(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T> void store(unsigned char* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

} // namespace

const char* typeName(const Column& c) {
    switch (c.type) {
    case SQL_SHORT:
        return c.scale ? "BCD" : "SmallInt";
    case SQL_LONG:
        return c.scale ? "BCD" : "Integer";
    case SQL_INT64:
        return c.scale ? "BCD" : "LargeInt";
    case SQL_FLOAT:
        return "Single";
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
        return "Float";
    case SQL_TIMESTAMP:
        return "TimeStamp";
    case SQL_TYPE_DATE:
        return "Date";
    case SQL_TYPE_TIME:
        return "Time";
    case SQL_TEXT:
        return "FixedChar";
    case SQL_VARYING:
        return "String";
    case SQL_BLOB:
        return "Blob";
    case SQL_BOOLEAN:
        return "Boolean";
    default:
        return "Unknown";
    }
}

Message::Message(Firebird::IMessageMetadata* metadata, fb::Status& st) {
    const fb::Handle<Firebird::IMessageMetadata> given(metadata);
    layout_.reset(new MessageLayout(metadata, st));
    unsigned count = metadata->getCount(&st);
    columns_.resize(count);
    for (unsigned i = 0; i < count; ++i) {
        Column& c = columns_[i];
        const char* alias = metadata->getAlias(&st, i);
        c.name = upper(alias ? alias : "");
        c.type = metadata->getType(&st, i) & ~1u;
        c.scale = metadata->getScale(&st, i);
        c.length = metadata->getLength(&st, i);
        c.charset = metadata->getCharSet(&st, i);
        c.offset = metadata->getOffset(&st, i);
        c.nullOffset = metadata->getNullOffset(&st, i);
    }
    buffer_.assign(metadata->getMessageLength(&st), 0);
    setAllNull();
}

int Message::find(std::string_view name) const {
    std::string key = upper(name);
    for (size_t i = 0; i < columns_.size(); ++i)
        if (columns_[i].name == key)
            return static_cast<int>(i);
    return -1;
}

bool Message::isNull(size_t i) const {
    return load<short>(&buffer_[columns_[i].nullOffset]) != 0;
}

void Message::setNull(size_t i) {
    store<short>(&buffer_[columns_[i].nullOffset], -1);
}

void Message::setAllNull() {
    for (size_t i = 0; i < columns_.size(); ++i)
        setNull(i);
}

std::int64_t Message::getInt64(size_t i) const {
    const Column& c = columns_[i];
    const unsigned char* p = &buffer_[c.offset];
    switch (c.type) {
    case SQL_SHORT:
        return load<std::int16_t>(p);
    case SQL_LONG:
        return load<std::int32_t>(p);
    case SQL_INT64:
        return load<std::int64_t>(p);
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
        return static_cast<std::int64_t>(std::llround(load<double>(p)));
    case SQL_FLOAT:
        return static_cast<std::int64_t>(std::llround(load<float>(p)));
    default:
        throw Error("Column '" + c.name + "' does not hold a number");
    }
}

std::int64_t Message::getScaled(size_t i, int scale) const {
    const Column& c = columns_[i];
    if (c.type == SQL_DOUBLE || c.type == SQL_FLOAT || c.type == SQL_D_FLOAT)
        return static_cast<std::int64_t>(std::llround(getDouble(i) * static_cast<double>(pow10(-scale))));
    std::int64_t raw = getInt64(i);
    // NUMERIC scales are negative: -2 holds hundredths.
    if (c.scale == scale)
        return raw;
    if (c.scale > scale) {
        std::int64_t f = pow10(c.scale - scale);
        if (raw > std::numeric_limits<std::int64_t>::max() / f || raw < std::numeric_limits<std::int64_t>::min() / f)
            throw Error("arithmetic exception, numeric overflow, or string truncation");
        return raw * f;
    }
    std::int64_t f = pow10(scale - c.scale);
    std::int64_t q = raw / f, r = raw % f;
    if (2 * (r < 0 ? -r : r) >= f)
        q += raw < 0 ? -1 : 1;
    return q;
}

double Message::getDouble(size_t i) const {
    const Column& c = columns_[i];
    const unsigned char* p = &buffer_[c.offset];
    switch (c.type) {
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
        return load<double>(p);
    case SQL_FLOAT:
        return load<float>(p);
    default:
        return static_cast<double>(getInt64(i)) / static_cast<double>(pow10(-c.scale));
    }
}

ISC_TIMESTAMP Message::getTimestamp(size_t i) const {
    const Column& c = columns_[i];
    if (c.type == SQL_TYPE_DATE)
        return ISC_TIMESTAMP{load<ISC_DATE>(&buffer_[c.offset]), 0};
    return load<ISC_TIMESTAMP>(&buffer_[c.offset]);
}

ISC_DATE Message::getDate(size_t i) const {
    const Column& c = columns_[i];
    if (c.type == SQL_TIMESTAMP)
        return load<ISC_TIMESTAMP>(&buffer_[c.offset]).timestamp_date;
    return load<ISC_DATE>(&buffer_[c.offset]);
}

std::string_view Message::getBytes(size_t i) const {
    const Column& c = columns_[i];
    const char* p = reinterpret_cast<const char*>(&buffer_[c.offset]);
    if (c.type == SQL_VARYING) {
        unsigned short len = load<unsigned short>(&buffer_[c.offset]);
        return std::string_view(p + 2, len);
    }
    if (c.type == SQL_TEXT)
        return std::string_view(p, c.length);
    throw Error("Column '" + c.name + "' does not hold text");
}

void Message::setInt64(size_t i, std::int64_t value, int scale) {
    const Column& c = columns_[i];
    unsigned char* p = &buffer_[c.offset];
    std::int64_t v = value;
    if (c.scale != scale && (c.type == SQL_SHORT || c.type == SQL_LONG || c.type == SQL_INT64)) {
        if (c.scale < scale) {
            std::int64_t f = pow10(scale - c.scale);
            if (v > std::numeric_limits<std::int64_t>::max() / f || v < std::numeric_limits<std::int64_t>::min() / f)
                throw Error("arithmetic exception, numeric overflow, or string truncation");
            v *= f;
        } else {
            v /= pow10(c.scale - scale);
        }
    }
    switch (c.type) {
    case SQL_SHORT:
        if (v < std::numeric_limits<std::int16_t>::min() || v > std::numeric_limits<std::int16_t>::max())
            throw Error("arithmetic exception, numeric overflow, or string truncation");
        store<std::int16_t>(p, static_cast<std::int16_t>(v));
        break;
    case SQL_LONG:
        if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
            throw Error("arithmetic exception, numeric overflow, or string truncation");
        store<std::int32_t>(p, static_cast<std::int32_t>(v));
        break;
    case SQL_INT64:
        store<std::int64_t>(p, v);
        break;
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
        store<double>(p, static_cast<double>(value) / static_cast<double>(pow10(-scale)));
        break;
    case SQL_FLOAT:
        store<float>(p, static_cast<float>(static_cast<double>(value) / static_cast<double>(pow10(-scale))));
        break;
    default:
        throw Error("Parameter '" + c.name + "' does not take a number");
    }
    store<short>(&buffer_[c.nullOffset], 0);
}

void Message::setDouble(size_t i, double value) {
    const Column& c = columns_[i];
    unsigned char* p = &buffer_[c.offset];
    switch (c.type) {
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
        store<double>(p, value);
        break;
    case SQL_FLOAT:
        store<float>(p, static_cast<float>(value));
        break;
    default:
        setInt64(i, std::llround(value * static_cast<double>(pow10(-c.scale))), c.scale);
        return;
    }
    store<short>(&buffer_[c.nullOffset], 0);
}

void Message::setTimestamp(size_t i, ISC_TIMESTAMP value) {
    const Column& c = columns_[i];
    if (c.type == SQL_TYPE_DATE)
        store<ISC_DATE>(&buffer_[c.offset], value.timestamp_date);
    else if (c.type == SQL_TIMESTAMP)
        store<ISC_TIMESTAMP>(&buffer_[c.offset], value);
    else
        throw Error("Parameter '" + c.name + "' does not take a timestamp");
    store<short>(&buffer_[c.nullOffset], 0);
}

void Message::setDate(size_t i, ISC_DATE value) {
    const Column& c = columns_[i];
    if (c.type == SQL_TYPE_DATE)
        store<ISC_DATE>(&buffer_[c.offset], value);
    else if (c.type == SQL_TIMESTAMP)
        store<ISC_TIMESTAMP>(&buffer_[c.offset], ISC_TIMESTAMP{value, 0});
    else
        throw Error("Parameter '" + c.name + "' does not take a date");
    store<short>(&buffer_[c.nullOffset], 0);
}

void Message::setBytes(size_t i, std::string_view bytes) {
    const Column& c = columns_[i];
    unsigned char* p = &buffer_[c.offset];
    // An empty view (the string rule's NULL) may have no data pointer at all, which memcpy must
    // not be given even for zero bytes.
    if (c.type == SQL_VARYING) {
        size_t len = bytes.size() < c.length ? bytes.size() : c.length;
        store<unsigned short>(p, static_cast<unsigned short>(len));
        if (len)
            std::memcpy(p + 2, bytes.data(), len);
    } else if (c.type == SQL_TEXT) {
        size_t len = bytes.size() < c.length ? bytes.size() : c.length;
        if (len)
            std::memcpy(p, bytes.data(), len);
        std::memset(p + len, ' ', c.length - len);
    } else {
        throw Error("Parameter '" + c.name + "' does not take text");
    }
    store<short>(&buffer_[c.nullOffset], 0);
}

} // namespace vela
