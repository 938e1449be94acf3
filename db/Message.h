#pragma once

#include "db/Firebird.h"
#include "db/MessageLayout.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vela {

// One column of a message (a result row or a parameter set), read once from the metadata.
struct Column {
    std::string name;  // alias for result columns, upper-case
    unsigned type = 0; // SQL_* without the nullable bit
    int scale = 0;
    unsigned length = 0;
    unsigned charset = 0;
    unsigned offset = 0;
    unsigned nullOffset = 0;
};

// The SQL type names shown in type-mismatch messages.
const char* typeName(const Column& column);

// A message buffer laid out by its metadata: allocated once, reused for every row.
class Message {
public:
    Message() = default;
    // Reads the layout through the status of the statement's connection. Takes the reference.
    Message(Firebird::IMessageMetadata* metadata, fb::Status& st);
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;
    Message(Message&&) noexcept = default;
    Message& operator=(Message&&) noexcept = default;

    // The layout to hand to the engine with this message's buffer.
    Firebird::IMessageMetadata* metadata() const { return layout_.get(); }
    unsigned char* data() { return buffer_.data(); }
    size_t size() const { return columns_.size(); }
    const Column& column(size_t i) const { return columns_[i]; }
    const std::vector<Column>& columns() const { return columns_; }
    int find(std::string_view name) const; // -1 when absent; name compared upper-case

    bool isNull(size_t i) const;
    void setNull(size_t i);
    void setAllNull();

    // Readers; the caller tests isNull first.
    std::int64_t getInt64(size_t i) const;             // raw integer of SHORT/LONG/INT64, ignoring scale
    std::int64_t getScaled(size_t i, int scale) const; // integer value at the given scale (exact)
    double getDouble(size_t i) const;
    ISC_TIMESTAMP getTimestamp(size_t i) const;
    ISC_DATE getDate(size_t i) const;
    std::string_view getBytes(size_t i) const; // CHAR as stored, VARCHAR by its length

    // Writers: each sets the value and clears the null flag. Integers are converted to the
    // column's type and scale; a value the column cannot hold throws.
    void setInt64(size_t i, std::int64_t value, int scale = 0);
    void setDouble(size_t i, double value);
    void setTimestamp(size_t i, ISC_TIMESTAMP value);
    void setDate(size_t i, ISC_DATE value);
    void setBytes(size_t i, std::string_view bytes); // cut to the column's length

private:
    fb::Handle<MessageLayout> layout_;
    std::vector<Column> columns_;
    std::vector<unsigned char> buffer_;
};

} // namespace vela
