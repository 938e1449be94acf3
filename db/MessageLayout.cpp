#include "db/MessageLayout.h"

namespace vela {

namespace {

std::string text(const char* s) {
    return s ? s : "";
}

} // namespace

MessageLayout::MessageLayout(Firebird::IMessageMetadata* source, fb::Status& st) {
    source->addRef();
    source_.reset(source);
    const unsigned count = source->getCount(&st);
    fields_.resize(count);
    for (unsigned i = 0; i < count; ++i) {
        Field& f = fields_[i];
        f.field = text(source->getField(&st, i));
        f.relation = text(source->getRelation(&st, i));
        f.owner = text(source->getOwner(&st, i));
        f.alias = text(source->getAlias(&st, i));
        f.type = source->getType(&st, i);
        f.subType = source->getSubType(&st, i);
        f.length = source->getLength(&st, i);
        f.scale = source->getScale(&st, i);
        f.charset = source->getCharSet(&st, i);
        f.offset = source->getOffset(&st, i);
        f.nullOffset = source->getNullOffset(&st, i);
    }
    length_ = source->getMessageLength(&st);
}

int MessageLayout::release() {
    if (--refs_ != 0)
        return 1;
    delete this;
    return 0;
}

const MessageLayout::Field* MessageLayout::at(Firebird::CheckStatusWrapper* st, unsigned i) const {
    if (i < fields_.size())
        return &fields_[i];
    const ISC_STATUS error[] = {isc_arg_gds, isc_invalid_index_val, isc_arg_number, static_cast<ISC_STATUS>(i),
                                isc_arg_end};
    st->setErrors(error);
    return nullptr;
}

const char* MessageLayout::getField(Firebird::CheckStatusWrapper* st, unsigned i) {
    const Field* f = at(st, i);
    return f ? f->field.c_str() : nullptr;
}

const char* MessageLayout::getRelation(Firebird::CheckStatusWrapper* st, unsigned i) {
    const Field* f = at(st, i);
    return f ? f->relation.c_str() : nullptr;
}

const char* MessageLayout::getOwner(Firebird::CheckStatusWrapper* st, unsigned i) {
    const Field* f = at(st, i);
    return f ? f->owner.c_str() : nullptr;
}

const char* MessageLayout::getAlias(Firebird::CheckStatusWrapper* st, unsigned i) {
    const Field* f = at(st, i);
    return f ? f->alias.c_str() : nullptr;
}

unsigned MessageLayout::getType(Firebird::CheckStatusWrapper* st, unsigned i) {
    const Field* f = at(st, i);
    return f ? f->type : 0;
}

FB_BOOLEAN MessageLayout::isNullable(Firebird::CheckStatusWrapper* st, unsigned i) {
    const Field* f = at(st, i);
    return f && (f->type & 1) ? FB_TRUE : FB_FALSE;
}

int MessageLayout::getSubType(Firebird::CheckStatusWrapper* st, unsigned i) {
    const Field* f = at(st, i);
    return f ? f->subType : 0;
}

unsigned MessageLayout::getLength(Firebird::CheckStatusWrapper* st, unsigned i) {
    const Field* f = at(st, i);
    return f ? f->length : 0;
}

int MessageLayout::getScale(Firebird::CheckStatusWrapper* st, unsigned i) {
    const Field* f = at(st, i);
    return f ? f->scale : 0;
}

unsigned MessageLayout::getCharSet(Firebird::CheckStatusWrapper* st, unsigned i) {
    const Field* f = at(st, i);
    return f ? f->charset : 0;
}

unsigned MessageLayout::getOffset(Firebird::CheckStatusWrapper* st, unsigned i) {
    const Field* f = at(st, i);
    return f ? f->offset : 0;
}

unsigned MessageLayout::getNullOffset(Firebird::CheckStatusWrapper* st, unsigned i) {
    const Field* f = at(st, i);
    return f ? f->nullOffset : 0;
}

Firebird::IMetadataBuilder* MessageLayout::getBuilder(Firebird::CheckStatusWrapper* st) {
    return source_->getBuilder(st);
}

} // namespace vela
