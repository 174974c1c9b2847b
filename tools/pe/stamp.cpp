#include "pe/stamp.h"

#include <filesystem>

#include "cli/cli.h"
#include "cli/printing.h"
#include "files/files.h"
#include "files/output.h"
#include "buffer_sizes.h"
#include "pe/pe_signature.h"
#include "pe/tag_attribute.h"
#include "pe/program_file.h"
#include "pe/tag_reading.h"
#include "tag.h"

bool is_tag_word(const std::string& word, size_t longest)
{
    return !word.empty() && word.size() <= longest &&
           word.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-") ==
               std::string::npos;
}

void check_tag_words(const std::string& identifier, const std::string& suffix)
{
    if (!is_tag_word(identifier, TRAILER_ID_SIZE))
        throw ToolError("identifier '" + printable(identifier) +
                        "' must be 1 to 11 letters, digits or '-'");
    if (!suffix.empty() && !is_tag_word(suffix, TRAILER_SUFFIX_SIZE))
        throw ToolError("suffix '" + printable(suffix) + "' must be 1 to 20 letters, digits or '-'");
}

std::string trailer_for(const std::string& identifier, const std::string& suffix)
{
    if (identifier.size() > static_cast<size_t>(TRAILER_ID_SIZE))
        throw ToolError("identifier '" + identifier + "' has " +
                        std::to_string(identifier.size()) + " bytes; at most 11 fit the trailer");
    if (suffix.size() > static_cast<size_t>(TRAILER_SUFFIX_SIZE))
        throw ToolError("suffix '" + suffix + "' has " + std::to_string(suffix.size()) +
                        " bytes; at most 20 fit the trailer");
    if (identifier.find('\0') != std::string::npos || suffix.find('\0') != std::string::npos)
        throw ToolError("identifier and suffix cannot hold NUL bytes");
    char trailer[TRAILER_SIZE];
    if (!make_tag_trailer(identifier.c_str(), suffix.c_str(), trailer))
        throw ToolError("cannot build the trailer");
    return std::string(trailer, TRAILER_SIZE);
}

namespace {

std::string stamped_unsigned(const std::string& image, const std::string& trailer)
{
    return image.substr(0, image.size() - (has_trailer(image) ? TRAILER_SIZE : 0)) + trailer;
}

// The hashed part of the image stays as it is: the trailer goes into the
// certificate entry, after the signature and the padding that keeps the
// table's end on 8 bytes, or into the signature's tag attribute. An
// earlier tag in the other place goes.
std::string stamped_signed(const std::string& image, const SignedImage& layout,
                           const std::string& trailer, TrailerPlace place)
{
    if (place == TrailerPlace::SIGNATURE)
        return with_certificate_entry(image, layout,
                                      signature_with_trailer(layout.signature, trailer), "");
    std::string signature = signature_with_trailer(layout.signature, "");
    size_t used = CERTIFICATE_HEADER_SIZE + signature.size() + TRAILER_SIZE;
    size_t padding = (CERTIFICATE_ALIGNMENT - used % CERTIFICATE_ALIGNMENT) % CERTIFICATE_ALIGNMENT;
    return with_certificate_entry(image, layout, signature, std::string(padding, '\0') + trailer);
}

std::string stamped_image(const std::string& in, const std::string& trailer, TrailerPlace place)
{
    std::string image = read_windows_program(in);
    SignedImage layout = read_signed_image(image);
    if (layout.kind != SignedImage::SIGNED) {
        if (place == TrailerPlace::SIGNATURE)
            throw ToolError(in + " is not signed: --in-signature needs a signature to hold the tag");
        return stamped_unsigned(image, trailer);
    }
    if (!layout.problem.empty())
        throw ToolError(in + ": " + layout.problem +
                        "; a tag there would break or hide the signature");
    try {
        return stamped_signed(image, layout, trailer, place);
    } catch (const ToolError& error) {
        throw ToolError(in + ": " + error.what());
    }
}

}  // namespace

uint64_t length_without_trailer(const std::string& path)
{
    uint64_t size = readable_file_size(path);
    return has_trailer(read_file(path)) ? size - TRAILER_SIZE : size;
}

void stamp_file(const std::string& in, const std::string& out, const std::string& identifier,
                const std::string& suffix, TrailerPlace place)
{
    std::string trailer = trailer_for(identifier, suffix);
    std::string image = stamped_image(in, trailer, place);
    // A stamped program stays as runnable as the one it was made from.
    std::error_code error;
    std::filesystem::perms mode = std::filesystem::status(in, error).permissions();
    if (error)
        throw ToolError("cannot read " + in + ": " + error.message());
    // write_output writes beside out and renames, so in may be out.
    write_output(out, [&](const OutputSink& sink) { sink.write(image); }, mode);
}
