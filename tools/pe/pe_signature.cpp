#include "pe/pe_signature.h"

#include "certificate_entry.h"
#include "cli/cli.h"
#include "pe/der.h"
#include "tag.h"

namespace {

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
    const std::string& after = layout->after_signature;
    if (!only_padding_after_signature(after.data(), after.size()))
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
