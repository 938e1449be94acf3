#pragma once

#include "db/Firebird.h"

#include <atomic>
#include <string>
#include <vector>

namespace vela {

// What the layout's calls report a bad column index through. Nothing more than the caller's status:
// the engine asks for a layout on every row, and a full status wrapper made for each of those calls
// costs more than the answer.
struct LayoutStatus {
    explicit LayoutStatus(Firebird::IStatus* s) : status(s) {}
    static void catchException(LayoutStatus* st) { Firebird::CheckStatusWrapper::catchException(st->status); }
    Firebird::IStatus* status;
};

// A message's layout, read once from the metadata the client gave and handed back to the engine
// in its place. The engine reads the layout of every message it is given on every fetch and every
// execute, five calls per column; the client's own metadata answers each call through a status
// check of its own, which on a long copy costs more than the copy's own code. Answering from
// plain vectors takes that off every row.
class MessageLayout final : public Firebird::IMessageMetadataImpl<MessageLayout, LayoutStatus> {
public:
    // Copies the layout; the source keeps serving what only it can (a builder).
    MessageLayout(Firebird::IMessageMetadata* source, fb::Status& st);
    MessageLayout(const MessageLayout&) = delete;
    MessageLayout& operator=(const MessageLayout&) = delete;

    void addRef() override { ++refs_; }
    int release() override;

    // Inline, so that the interface's dispatch and the answer are one short call.
    unsigned getCount(LayoutStatus*) override { return static_cast<unsigned>(fields_.size()); }
    const char* getField(LayoutStatus* st, unsigned i) override { return ok(st, i) ? fields_[i].field.c_str() : nullptr; }
    const char* getRelation(LayoutStatus* st, unsigned i) override {
        return ok(st, i) ? fields_[i].relation.c_str() : nullptr;
    }
    const char* getOwner(LayoutStatus* st, unsigned i) override { return ok(st, i) ? fields_[i].owner.c_str() : nullptr; }
    const char* getAlias(LayoutStatus* st, unsigned i) override { return ok(st, i) ? fields_[i].alias.c_str() : nullptr; }
    unsigned getType(LayoutStatus* st, unsigned i) override { return ok(st, i) ? fields_[i].type : 0; }
    FB_BOOLEAN isNullable(LayoutStatus* st, unsigned i) override {
        return ok(st, i) && (fields_[i].type & 1) ? FB_TRUE : FB_FALSE;
    }
    int getSubType(LayoutStatus* st, unsigned i) override { return ok(st, i) ? fields_[i].subType : 0; }
    unsigned getLength(LayoutStatus* st, unsigned i) override { return ok(st, i) ? fields_[i].length : 0; }
    int getScale(LayoutStatus* st, unsigned i) override { return ok(st, i) ? fields_[i].scale : 0; }
    unsigned getCharSet(LayoutStatus* st, unsigned i) override { return ok(st, i) ? fields_[i].charset : 0; }
    unsigned getOffset(LayoutStatus* st, unsigned i) override { return ok(st, i) ? fields_[i].offset : 0; }
    unsigned getNullOffset(LayoutStatus* st, unsigned i) override { return ok(st, i) ? fields_[i].nullOffset : 0; }
    Firebird::IMetadataBuilder* getBuilder(LayoutStatus* st) override;
    unsigned getMessageLength(LayoutStatus*) override { return length_; }

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

    ~MessageLayout() override = default;
    bool ok(LayoutStatus* st, unsigned i) const {
        if (i < fields_.size())
            return true;
        badIndex(st, i);
        return false;
    }
    static void badIndex(LayoutStatus* st, unsigned i);

    std::atomic<int> refs_{1};
    fb::Handle<Firebird::IMessageMetadata> source_;
    std::vector<Field> fields_;
    unsigned length_ = 0;
};

} // namespace vela
