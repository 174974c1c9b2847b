#include "pe/image_digest.h"

#include <openssl/evp.h>
#include <openssl/objects.h>

#include <stdint.h>

#include <memory>
#include <vector>

#include "cli/cli.h"
#include "pe/authenticode.h"
#include "pe/der.h"

namespace {

// The index-th item inside item, which must carry tag.
bool nth_item(const std::string& data, const DerItem& item, size_t index, uint8_t tag, DerItem* out)
{
    std::vector<DerItem> children;
    if (!der_children(data, item, &children) || children.size() <= index ||
        children[index].tag != tag)
        return false;
    *out = children[index];
    return true;
}

// The digest algorithm (an OID's content) and the image digest that the
// signature signs: SignedData, its content, the SpcIndirectDataContent,
// its DigestInfo.
bool signed_digest(const std::string& signature, std::string* oid, std::string* digest)
{
    SignerPath path;
    if (!walk_to_signer(signature, &path).empty())
        return false;
    DerItem content, wrapped, indirect, info, algorithm, algorithm_oid, value;
    if (!nth_item(signature, path.chain[2], 2, DER_SEQUENCE, &content) ||
        !nth_item(signature, content, 1, DER_CONTEXT_0, &wrapped) ||
        !nth_item(signature, wrapped, 0, DER_SEQUENCE, &indirect) ||
        !nth_item(signature, indirect, 1, DER_SEQUENCE, &info) ||
        !nth_item(signature, info, 0, DER_SEQUENCE, &algorithm) ||
        !nth_item(signature, algorithm, 0, DER_OID, &algorithm_oid) ||
        !nth_item(signature, info, 1, DER_OCTET_STRING, &value))
        return false;
    *oid = der_content(signature, algorithm_oid);
    *digest = der_content(signature, value);
    return true;
}

const EVP_MD* digest_named(const std::string& oid)
{
    std::string encoded = der_encode(DER_OID, oid);
    const unsigned char* at = reinterpret_cast<const unsigned char*>(encoded.data());
    std::unique_ptr<ASN1_OBJECT, decltype(&ASN1_OBJECT_free)> object(
        d2i_ASN1_OBJECT(nullptr, &at, static_cast<long>(encoded.size())), &ASN1_OBJECT_free);
    return object ? EVP_get_digestbyobj(object.get()) : nullptr;
}

// Authenticode's digest: the whole image before the certificate table but
// for the CheckSum field and the security directory entry.
std::string image_digest(const std::string& image, const SignedImage& layout, const EVP_MD* md)
{
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                    &EVP_MD_CTX_free);
    const size_t pieces[][2] = {{0, layout.checksum_at},
                                {layout.checksum_at + 4, layout.directory_at},
                                {layout.directory_at + 8, layout.table_at}};
    bool ok = context && EVP_DigestInit_ex(context.get(), md, nullptr) == 1;
    for (const auto& piece : pieces)
        ok = ok && EVP_DigestUpdate(context.get(), image.data() + piece[0], piece[1] - piece[0]) == 1;
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!ok || EVP_DigestFinal_ex(context.get(), out, &size) != 1)
        throw ToolError("cannot compute the image digest");
    return std::string(reinterpret_cast<const char*>(out), size);
}

}  // namespace

bool image_digest_matches(const std::string& image, const SignedImage& layout, std::string* why)
{
    std::string oid, signed_value;
    if (layout.kind != SignedImage::SIGNED || !layout.problem.empty()) {
        *why = layout.kind == SignedImage::SIGNED ? layout.problem : "it has no signature";
        return false;
    }
    if (!signed_digest(layout.signature, &oid, &signed_value)) {
        *why = "its signature names no image digest";
        return false;
    }
    const EVP_MD* md = digest_named(oid);
    if (!md) {
        *why = "its signature uses a digest algorithm this tool does not know";
        return false;
    }
    if (layout.checksum_at + 4 > layout.directory_at || layout.directory_at + 8 > layout.table_at) {
        *why = "its headers overlap the certificate table";
        return false;
    }
    if (image_digest(image, layout, md) != signed_value) {
        *why = "the image digest differs from the one its signature signs";
        return false;
    }
    return true;
}
