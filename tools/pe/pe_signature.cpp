#include "pe/pe_signature.h"

#include <openssl/evp.h>
#include <openssl/objects.h>

#include <memory>
#include <vector>

#include "cli/cli.h"
#include "pe/der.h"
#include "tag.h"

namespace {

// The tag attribute's type: 2.25.149505977386300690994423687773932506671,
// an OID made from the UUID 7079cdca-82b3-4f1d-a566-ab01d6744e2f as X.667
// lets anyone do without registering it, so it names nothing but this.
const char TAG_ATTRIBUTE_OID[] =
    "\x69\x81\xE0\xF9\xE6\xF2\xD0\xAB\x9A\xBC\xBB\xA5\xB3\xAA\xE0\x9D\xB3\xD1\x9C\x2F";
const size_t TAG_ATTRIBUTE_OID_SIZE = sizeof TAG_ATTRIBUTE_OID - 1;

const uint16_t PE32_MAGIC = 0x10B;
const uint16_t PE32_PLUS_MAGIC = 0x20B;
const uint16_t PKCS_SIGNED_DATA = 0x0002;
const size_t SECURITY_DIRECTORY = 4;

uint32_t le16(const std::string& data, size_t at)
{
    return static_cast<uint8_t>(data[at]) | static_cast<uint32_t>(static_cast<uint8_t>(data[at + 1])) << 8;
}

uint32_t le32(const std::string& data, size_t at)
{
    return le16(data, at) | le16(data, at + 2) << 16;
}

void put32(std::string* data, size_t at, uint32_t value)
{
    for (size_t i = 0; i < 4; ++i)
        (*data)[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

size_t aligned(size_t size)
{
    return (size + CERTIFICATE_ALIGNMENT - 1) / CERTIFICATE_ALIGNMENT * CERTIFICATE_ALIGNMENT;
}

// Finds the CheckSum field and the security directory entry (0 when the
// image has none). Returns false when image is not a PE image.
bool read_headers(const std::string& image, size_t* checksum_at, size_t* directory_at)
{
    if (image.size() < 0x40 || image.compare(0, 2, "MZ") != 0)
        return false;
    size_t pe = le32(image, 0x3C);
    if (pe > image.size() || image.size() - pe < 24 ||
        image.compare(pe, 4, std::string("PE\0\0", 4)) != 0)
        return false;
    size_t optional = pe + 24;
    size_t optional_size = le16(image, pe + 20);
    if (optional_size < 2 || image.size() - optional < optional_size)
        return false;
    uint32_t magic = le16(image, optional);
    // The count of data directories, then the directories themselves.
    size_t count_at = magic == PE32_MAGIC ? 92 : magic == PE32_PLUS_MAGIC ? 108 : 0;
    if (count_at == 0 || optional_size < count_at + 4)
        return false;
    *checksum_at = optional + 64;
    size_t entry = count_at + 4 + SECURITY_DIRECTORY * 8;
    bool has_entry = le32(image, optional + count_at) > SECURITY_DIRECTORY && optional_size >= entry + 8;
    *directory_at = has_entry ? optional + entry : 0;
    return true;
}

// What may follow the signature inside its entry: zero padding, perhaps
// ending with a trailer.
bool is_padding_or_trailer(const std::string& after)
{
    size_t padding = after.size();
    if (padding >= static_cast<size_t>(TRAILER_SIZE) &&
        after.compare(padding - 4, 4, TRAILER_MARKER) == 0)
        padding -= TRAILER_SIZE;
    return after.find_first_not_of('\0') >= padding;
}

std::string range_text(size_t at, size_t size)
{
    return "at byte " + std::to_string(at) + ", " + std::to_string(size) + " bytes";
}

// Reads the one entry of the table. Returns why it cannot, or empty.
std::string read_entry(const std::string& image, SignedImage* layout)
{
    size_t table_end = layout->table_at + layout->table_size;
    uint32_t entry = le32(image, layout->table_at);
    if (entry < CERTIFICATE_HEADER_SIZE || entry > layout->table_size)
        return "the certificate entry's length (" + std::to_string(entry) +
               ") does not fit the certificate table (" + std::to_string(layout->table_size) + " bytes)";
    if (aligned(entry) < layout->table_size)
        return "the certificate table holds more than one entry (the first has " +
               std::to_string(entry) + " of its " + std::to_string(layout->table_size) + " bytes)";
    if (le16(image, layout->table_at + 6) != PKCS_SIGNED_DATA)
        return "the certificate entry is not a PKCS#7 signature (type " +
               std::to_string(le16(image, layout->table_at + 6)) + ")";
    DerItem blob;
    size_t blob_at = layout->table_at + CERTIFICATE_HEADER_SIZE;
    if (!read_der_item(image, blob_at, image.size(), &blob) || blob.tag != DER_SEQUENCE)
        return "the certificate entry holds no DER signature that fits its " +
               std::to_string(entry - CERTIFICATE_HEADER_SIZE) + " bytes after the header";
    if (blob.end() > layout->table_at + entry)
        return "the signature (" + std::to_string(blob.end() - blob_at) +
               " bytes) does not fit its certificate entry (" +
               std::to_string(entry - CERTIFICATE_HEADER_SIZE) + " bytes after the header)";
    layout->signature = image.substr(blob_at, blob.end() - blob_at);
    layout->after_signature = image.substr(blob.end(), table_end - blob.end());
    if (!is_padding_or_trailer(layout->after_signature))
        return "the certificate entry holds bytes after the signature that are neither padding "
               "nor a tag trailer";
    return std::string();
}

// Why the certificate table cannot take a trailer, or empty.
std::string table_problem(const std::string& image, SignedImage* layout)
{
    size_t size = image.size();
    std::string table = "the certificate table (" + range_text(layout->table_at, layout->table_size) + ")";
    if (layout->table_at > size || size - layout->table_at < layout->table_size)
        return table + " runs past the end of the file (" + std::to_string(size) + " bytes)";
    if (layout->table_at % CERTIFICATE_ALIGNMENT || layout->table_size % CERTIFICATE_ALIGNMENT)
        return table + " is not aligned on 8 bytes";
    if (layout->table_at + layout->table_size != size)
        return table + " does not end the file: " +
               std::to_string(size - layout->table_at - layout->table_size) + " bytes follow it";
    return read_entry(image, layout);
}

// The signature's items from the ContentInfo down to its signer, each the
// last item of the one before, and the signer's own items.
struct SignerPath {
    std::vector<DerItem> chain;
    std::vector<DerItem> signer_items;
};

const char NOT_AUTHENTICODE[] = "the signature is not laid out as an Authenticode signature";

// Walks ContentInfo, [0], SignedData, SignerInfos, the signer. Returns why
// it cannot, or empty.
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

SignedImage read_signed_image(const std::string& image)
{
    SignedImage layout;
    if (!read_headers(image, &layout.checksum_at, &layout.directory_at))
        return layout;
    layout.kind = SignedImage::UNSIGNED;
    if (layout.directory_at == 0 || le32(image, layout.directory_at + 4) == 0)
        return layout;
    layout.kind = SignedImage::SIGNED;
    layout.table_at = le32(image, layout.directory_at);
    layout.table_size = le32(image, layout.directory_at + 4);
    layout.problem = table_problem(image, &layout);
    return layout;
}

uint32_t pe_checksum(const std::string& image, size_t checksum_at)
{
    uint64_t sum = 0;
    for (size_t at = 0; at < image.size(); at += 2) {
        uint32_t word = static_cast<uint8_t>(image[at]);
        if (at + 1 < image.size())
            word |= static_cast<uint32_t>(static_cast<uint8_t>(image[at + 1])) << 8;
        // The field counts as zero, whatever its alignment.
        for (size_t i = 0; i < 2; ++i) {
            if (at + i >= checksum_at && at + i < checksum_at + 4)
                word &= ~(0xFFu << (8 * i));
        }
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + image.size());
}

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

std::string with_certificate_entry(const std::string& image, const SignedImage& layout,
                                   const std::string& signature, const std::string& tail)
{
    std::string header = image.substr(layout.table_at, CERTIFICATE_HEADER_SIZE);
    size_t entry = CERTIFICATE_HEADER_SIZE + signature.size() + tail.size();
    if (entry % CERTIFICATE_ALIGNMENT || entry > UINT32_MAX)
        throw ToolError("the certificate entry would have " + std::to_string(entry) +
                        " bytes, not a multiple of 8");
    put32(&header, 0, static_cast<uint32_t>(entry));
    std::string out = image.substr(0, layout.table_at) + header + signature + tail;
    put32(&out, layout.directory_at + 4, static_cast<uint32_t>(entry));
    put32(&out, layout.checksum_at, pe_checksum(out, layout.checksum_at));
    return out;
}

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
