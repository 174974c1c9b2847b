#include "pe/tag_attribute.h"

#include <stddef.h>

#include "cli/cli.h"
#include "pe/authenticode.h"
#include "pe/der.h"
#include "pe/pe_signature.h"

namespace {

// The tag attribute's type: 2.25.149505977386300690994423687773932506671,
// an OID made from the UUID 7079cdca-82b3-4f1d-a566-ab01d6744e2f as X.667
// lets anyone do without registering it, so it names nothing but this.
const char TAG_ATTRIBUTE_OID[] =
    "\x69\x81\xE0\xF9\xE6\xF2\xD0\xAB\x9A\xBC\xBB\xA5\xB3\xAA\xE0\x9D\xB3\xD1\x9C\x2F";
const size_t TAG_ATTRIBUTE_OID_SIZE = sizeof TAG_ATTRIBUTE_OID - 1;

bool is_tag_attribute(const std::string& signature, const DerItem& attribute)
{
    std::vector<DerItem> parts;
    return attribute.tag == DER_SEQUENCE && der_children(signature, attribute, &parts) &&
           !parts.empty() && parts[0].tag == DER_OID &&
           der_content(signature, parts[0]) == std::string(TAG_ATTRIBUTE_OID, TAG_ATTRIBUTE_OID_SIZE);
}

// The signer's unauthenticated attributes other than the tag's, one after
// the other. kept_end: where the signer's other items end.
std::string other_attributes(const std::string& signature, const SignerPath& path,
                             size_t* kept_end, bool* had_tag)
{
    const DerItem& last = path.signer_items.back();
    *had_tag = false;
    *kept_end = path.chain.back().end();
    if (last.tag != DER_CONTEXT_1)
        return std::string();
    *kept_end = last.at;
    std::vector<DerItem> attributes;
    if (!der_children(signature, last, &attributes))
        throw ToolError(NOT_AUTHENTICODE);
    std::string others;
    for (const DerItem& attribute : attributes) {
        if (is_tag_attribute(signature, attribute))
            *had_tag = true;
        else
            others += signature.substr(attribute.at, attribute.end() - attribute.at);
    }
    return others;
}

// The signature with the signer's content replaced and every length on
// the way up to the ContentInfo written anew.
std::string rebuilt(const std::string& signature, const SignerPath& path,
                    const std::string& signer_content)
{
    std::string inner = der_encode(path.chain.back().tag, signer_content);
    for (size_t i = path.chain.size() - 1; i-- > 0;) {
        const DerItem& parent = path.chain[i];
        const DerItem& child = path.chain[i + 1];
        std::string content = signature.substr(parent.start, child.at - parent.start);
        content += inner;
        inner = der_encode(parent.tag, content);
    }
    return inner;
}

std::string tag_attribute(size_t filler, const std::string& trailer)
{
    std::string value = der_encode(DER_OCTET_STRING, std::string(filler, '\0') + trailer);
    return der_encode(DER_SEQUENCE, der_encode(DER_OID, std::string(TAG_ATTRIBUTE_OID,
                                                                   TAG_ATTRIBUTE_OID_SIZE)) +
                                        der_encode(DER_SET, value));
}

}  // namespace

std::string signature_with_trailer(const std::string& signature, const std::string& trailer)
{
    SignerPath path;
    std::string problem = walk_to_signer(signature, &path);
    if (!problem.empty()) {
        // A signature this walk cannot read holds no tag of ours to remove.
        if (trailer.empty())
            return signature;
        throw ToolError(problem);
    }
    size_t kept_end = 0;
    bool had_tag = false;
    std::string others = other_attributes(signature, path, &kept_end, &had_tag);
    if (trailer.empty() && !had_tag)
        return signature;
    const DerItem& signer = path.chain.back();
    std::string head = signature.substr(signer.start, kept_end - signer.start);
    if (trailer.empty())
        return rebuilt(signature, path, head + (others.empty() ? "" : der_encode(DER_CONTEXT_1, others)));
    // Each filler byte adds one to the length, save where a length grows
    // by a byte: within two rounds of 8 one size is a multiple of 8.
    for (size_t filler = 0; filler < 4 * CERTIFICATE_ALIGNMENT; ++filler) {
        std::string attributes = others;
        attributes += tag_attribute(filler, trailer);
        std::string content = head;
        content += der_encode(DER_CONTEXT_1, attributes);
        std::string result = rebuilt(signature, path, content);
        if (result.size() % CERTIFICATE_ALIGNMENT == 0)
            return result;
    }
    throw ToolError("cannot size the tag attribute");
}

bool ends_with_tag_attribute(const std::string& signature)
{
    SignerPath path;
    if (!walk_to_signer(signature, &path).empty() || path.signer_items.back().tag != DER_CONTEXT_1)
        return false;
    std::vector<DerItem> attributes;
    return der_children(signature, path.signer_items.back(), &attributes) && !attributes.empty() &&
           is_tag_attribute(signature, attributes.back()) &&
           attributes.back().end() == signature.size();
}
