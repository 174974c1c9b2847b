#include "pe/authenticode.h"

#include <stdint.h>

const char NOT_AUTHENTICODE[] = "the signature is not laid out as an Authenticode signature";

std::string walk_to_signer(const std::string& signature, SignerPath* path)
{
    DerItem item;
    if (!read_der_item(signature, 0, signature.size(), &item) || item.tag != DER_SEQUENCE ||
        item.end() != signature.size())
        return NOT_AUTHENTICODE;
    path->chain.assign(1, item);
    const uint8_t steps[] = {DER_CONTEXT_0, DER_SEQUENCE, DER_SET, DER_SEQUENCE};
    for (uint8_t tag : steps) {
        std::vector<DerItem> children;
        if (!der_children(signature, item, &children) || children.empty() ||
            children.back().tag != tag)
            return NOT_AUTHENTICODE;
        if (item.tag == DER_SET && children.size() != 1)
            return "the signature has " + std::to_string(children.size()) +
                   " signers; an Authenticode signature has one";
        item = children.back();
        path->chain.push_back(item);
    }
    if (!der_children(signature, item, &path->signer_items) || path->signer_items.empty())
        return NOT_AUTHENTICODE;
    return std::string();
}
