// pe/: a Windows program's file as dlmtool reads and stamps it, platform-
// free, the image being any file's bytes. Here: the Authenticode signature
// of a PE image, as far as dlmtool needs it to stamp a distribution tag
// without breaking the signature: where the certificate table is, what it
// holds, and the changes that the signature does not cover (the table's
// padding, the checksum). tag_attribute.h edits the signer's
// unauthenticated attributes, image_digest.h compares the digest, der.h
// and authenticode.h walk the signature; stamp.h places the trailer,
// tag_reading.h reads it back, program_file.h reads a program.
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

// image with its certificate table holding one entry: the signature
// followed by tail. The entry's length and the security directory's size
// cover all of it, and the checksum is recomputed.
std::string with_certificate_entry(const std::string& image, const SignedImage& layout,
                                   const std::string& signature, const std::string& tail);
