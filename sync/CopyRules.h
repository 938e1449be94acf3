#pragma once

#include "db/Message.h"
#include "sync/TableCopy.h"

#include <string_view>

namespace vela {

// Throws "Type mismatch for field ..." when a source column cannot be read by the rule.
void checkDeclaredType(const Column& column, std::string_view field, Rule rule);

// Copies one field by its rule. A NULL source value is never written as NULL: it becomes 0, an
// empty string, the earliest timestamp or the date 1899-12-30.
void copyField(const Message& source, size_t from, Message& target, size_t to, Rule rule, unsigned size);

// The value written for a NULL timestamp: 0001-01-01 00:00:00.0000, the earliest the database takes.
ISC_TIMESTAMP nullTimestamp();
// The value written for a NULL date: day 0 of the date-time numbers, 1899-12-30.
ISC_DATE nullDate();

// The string rule's read: the bytes up to the first zero byte.
std::string_view readString(const Message& source, size_t from);

} // namespace vela
