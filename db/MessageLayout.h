#pragma once

#include "db/Firebird.h"

#include <atomic>
#include <string>
#include <vector>

namespace vela {

// A message's layout, read once from the metadata the client gave and handed back to the engine
// in its place. The engine reads the layout of every message it is given on every fetch and every
// execute, five calls per column; the client's own metadata answers each call through a status
// check of its own, which on a long copy costs more than the copy's own code. Answering from
// plain vectors takes that off every row.
class MessageLayout final : public Firebird::IMessageMetadataImpl<MessageLayout, Firebird::CheckStatusWrapper> {
public:
    // Copies the layout; the source keeps serving what only it can (a builder).
    MessageLayout(Firebird::IMessageMetadata* source, fb::Status& st);
    MessageLayout(const MessageLayout&) = delete;
    MessageLayout& operator=(const MessageLayout&) = delete;

    void addRef() override { ++refs_; }
    int release() override;

    unsigned getCount(Firebird::CheckStatusWrapper*) override { return static_cast<unsigned>(fields_.size()); }
    const char* getField(Firebird::CheckStatusWrapper* st, unsigned i) override;
    const char* getRelation(Firebird::CheckStatusWrapper* st, unsigned i) override;
    const char* getOwner(Firebird::CheckStatusWrapper* st, unsigned i) override;
    const char* getAlias(Firebird::CheckStatusWrapper* st, unsigned i) override;
    unsigned getType(Firebird::CheckStatusWrapper* st, unsigned i) override;
    FB_BOOLEAN isNullable(Firebird::CheckStatusWrapper* st, unsigned i) override;
    int getSubType(Firebird::CheckStatusWrapper* st, unsigned i) override;
    unsigned getLength(Firebird::CheckStatusWrapper* st, unsigned i) override;
    int getScale(Firebird::CheckStatusWrapper* st, unsigned i) override;
    unsigned getCharSet(Firebird::CheckStatusWrapper* st, unsigned i) override;
    unsigned getOffset(Firebird::CheckStatusWrapper* st, unsigned i) override;
    unsigned getNullOffset(Firebird::CheckStatusWrapper* st, unsigned i) override;
    Firebird::IMetadataBuilder* getBuilder(Firebird::CheckStatusWrapper* st) override;
    unsigned getMessageLength(Firebird::CheckStatusWrapper*) override { return length_; }

private:
    struct Field {
        std::string field, relation, owner, alias;
        unsigned type = 0; // SQL_* with the nullable bit
        int subType = 0;
        unsigned length = 0;
        int scale = 0;
        unsigned charset = 0;
        unsigned offset = 0;
        unsigned nullOffset = 0;
    };

    ~MessageLayout() = default;
    const Field* at(Firebird::CheckStatusWrapper* st, unsigned i) const;

    std::atomic<int> refs_{1};
    fb::Handle<Firebird::IMessageMetadata> source_;
    std::vector<Field> fields_;
    unsigned length_ = 0;
};

} // namespace vela
