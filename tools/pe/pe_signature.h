// The Authenticode signature of a PE image, as far as dlmtool needs it to
// stamp a distribution tag without breaking the signature: where the
// certificate table is, what it holds, and the changes that the signature
// does not cover (the table's padding, the signer's unauthenticated
// attributes, the checksum). Platform-free; the image is any file's bytes.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>

// WIN_CERTIFICATE: dwLength (4), wRevision (2), wCertificateType (2).
const size_t CERTIFICATE_HEADER_SIZE = 8;
// The certificate table and each of its entries start on this boundary.
const size_t CERTIFICATE_ALIGNMENT = 8;

struct SignedImage {
    enum Kind { NOT_PE, UNSIGNED, SIGNED };
    Kind kind = NOT_PE;
    size_t checksum_at = 0;   // the optional header's CheckSum field
    size_t directory_at = 0;  // the security directory entry: table offset, size
    size_t table_at = 0;      // the certificate table's file offset
    size_t table_size = 0;
    std::string signature;        // the PKCS#7 blob, exactly its DER length
    std::string after_signature;  // the rest of its entry: padding, perhaps a trailer
    // Why a SIGNED image cannot be stamped without breaking or hiding its
    // signature; empty when it can.
    std::string problem;
};

// Reads where image keeps its signature.
SignedImage read_signed_image(const std::string& image);

// The PE checksum of image with its CheckSum field (at checksum_at) taken
// as zero: the 16-bit one's-complement sum of the file plus its length.
uint32_t pe_checksum(const std::string& image, size_t checksum_at);

// The signature with the tag attribute of its signer removed (trailer
// empty) or set to one whose value ends with trailer, sized so that the
// signature's length is a multiple of 8. Throws ToolError when the
// signature is not laid out as Authenticode lays it out (one signer, each
// item the last of its parent down to the signer).
std::string signature_with_trailer(const std::string& signature, const std::string& trailer);

// Whether the signature's last bytes are the value of the tag attribute.
bool ends_with_tag_attribute(const std::string& signature);

// image with its certificate table holding one entry: the signature
// followed by tail. The entry's length and the security directory's size
// cover all of it, and the checksum is recomputed.
std::string with_certificate_entry(const std::string& image, const SignedImage& layout,
                                   const std::string& signature, const std::string& tail);

// Whether the digest of the image, as Authenticode computes it, is the one
// the signature signs. Says why not in why.
bool image_digest_matches(const std::string& image, const SignedImage& layout, std::string* why);
