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

void MessageLayout::badIndex(LayoutStatus* st, unsigned i) {
    const ISC_STATUS error[] = {isc_arg_gds, isc_invalid_index_val, isc_arg_number, static_cast<ISC_STATUS>(i),
                                isc_arg_end};
    st->status->setErrors(error);
}

Firebird::IMetadataBuilder* MessageLayout::getBuilder(LayoutStatus* st) {
    Firebird::CheckStatusWrapper wrapped(st->status);
    return source_->getBuilder(&wrapped);
}

} // namespace vela
