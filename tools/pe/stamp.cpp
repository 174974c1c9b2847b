#include "pe/stamp.h"

#include <stdio.h>

#include <algorithm>
#include <filesystem>

#include "limits.h"
#include "pe/pe_signature.h"
#include "tag.h"
#include "files/files.h"

const char stamp_usage[] =
    "usage: dlmtool stamp IN.exe --id ID [--suffix S] [--in-signature] [--output OUT.exe]\n"
    "Writes a copy of IN.exe (a Windows program) that ends with the\n"
    "distribution tag trailer: identifier 1 to 11, suffix 1 to 20 letters,\n"
    "digits or '-' (they name files, travel in URLs and go to the registry).\n"
    "Without --output (or -o) the copy goes to standard output; -o - says so\n"
    "too. A trailer that IN.exe\n"
    "already has is replaced, not followed by a second one. The program then\n"
    "reads the tag ID, or ID_S with a suffix.\n"
    "A signed IN.exe stays signed: the trailer goes inside its certificate\n"
    "table, after the signature, or with --in-signature inside an\n"
    "unauthenticated attribute of the signature (for systems that refuse\n"
    "bytes after the signature). Signed files laid out otherwise are refused.\n" OUTPUT_FILE_NOTE;

const char tag_usage[] =
    "usage: dlmtool tag FILE\n"
    "Prints the distribution tag that the program would read when run from\n"
    "FILE: from its trailer, or else from its file name (\"polvex\" + tag).\n"
    "Then tells on standard error where it found the tag and whether FILE is\n"
    "signed with its image digest intact. Exits 1, printing nothing on\n"
    "standard output, when the program would read no tag or an empty one (no\n"
    "trailer, and a name without \"polvex\" + tag); a folder or a file that\n"
    "cannot be read is an error.\n";

namespace {

// The file operations the program's tag reader uses, over a file's bytes
// held in memory (none: the file cannot be opened).
struct ImageTagFiles {
    const std::string* image;
    int64_t position = 0;

    TagFileOps ops() { return TagFileOps{&open_file, &seek_end, &read_file, &close_file, this}; }

    static int open_file(void* context, const char*)
    {
        return static_cast<ImageTagFiles*>(context)->image ? 3 : -1;
    }
    static int64_t seek_end(void* context, int, int offset)
    {
        ImageTagFiles& self = *static_cast<ImageTagFiles*>(context);
        int64_t position = static_cast<int64_t>(self.image->size()) + offset;
        if (position < 0)
            return -1;
        self.position = position;
        return position;
    }
    static int read_file(void* context, int, char* buffer, int size)
    {
        ImageTagFiles& self = *static_cast<ImageTagFiles*>(context);
        size_t at = static_cast<size_t>(self.position);
        size_t count = std::min(static_cast<size_t>(size), self.image->size() - at);
        std::copy_n(self.image->data() + at, count, buffer);
        self.position += static_cast<int64_t>(count);
        return static_cast<int>(count);
    }
    static void close_file(void*, int) {}
};

// The program takes the name after the last backslash; a Linux path
// separates with '/', so hand it over with backslashes.
std::string program_form(const std::string& path)
{
    std::string converted = path;
    std::replace(converted.begin(), converted.end(), '/', '\\');
    return converted;
}

}  // namespace

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

std::string read_program_file(const std::string& path)
{
    readable_file_size(path);  // a folder or a device is refused here
    return read_file(path);
}

void check_program(const std::string& path)
{
    if (read_signed_image(read_program_file(path)).kind == SignedImage::NOT_PE)
        throw ToolError(path + " is not a Windows program (no MZ and PE headers)");
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

bool has_trailer(const std::string& image)
{
    ImageTagFiles files{&image};
    char tag[TAG_BUFFER_SIZE];
    // The program's own reader decides what counts as a trailer.
    return read_tag_trailer("", files.ops(), tag, sizeof tag) != 0;
}

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
    std::string image = read_program_file(in);
    SignedImage layout = read_signed_image(image);
    if (layout.kind == SignedImage::NOT_PE)
        throw ToolError(in + " is not a Windows program (no MZ and PE headers)");
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

// Where the program finds the tag of a file that has a trailer.
std::string trailer_form(const SignedImage& layout)
{
    if (layout.kind != SignedImage::SIGNED || !layout.problem.empty())
        return "trailer at the end of the file";
    if (layout.after_signature.empty() && ends_with_tag_attribute(layout.signature))
        return "trailer in the signature's tag attribute";
    return "trailer in the certificate table, after the signature";
}

void describe_signature(const std::string& image, TagReading* reading)
{
    SignedImage layout = read_signed_image(image);
    reading->is_signed = layout.kind == SignedImage::SIGNED;
    std::string why;
    reading->intact = image_digest_matches(image, layout, &why);
    if (!reading->is_signed)
        reading->signature = "not signed";
    else if (reading->intact)
        reading->signature = "signed, the image digest matches the signature";
    else
        reading->signature = "signature broken: " + why;
    if (reading->found && reading->form.empty())
        reading->form = trailer_form(layout);
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

TagReading read_tag_of(const std::string* image, const std::string& path)
{
    TagReading reading;
    ImageTagFiles files{image};
    char buffer[TAG_BUFFER_SIZE] = {0};
    std::string program_path = program_form(path);
    reading.found =
        read_distribution_tag_from(program_path.c_str(), files.ops(), buffer, sizeof buffer) != 0;
    reading.tag = buffer;
    if (!image || !has_trailer(*image))
        reading.form = "from the file name";
    if (image)
        describe_signature(*image, &reading);
    return reading;
}

bool tag_of_file(const std::string& path, std::string* tag)
{
    std::string image;
    bool readable = true;
    try {
        image = read_file(path);
    } catch (const ToolError&) {
        readable = false;  // the program then goes by the name alone
    }
    TagReading reading = read_tag_of(readable ? &image : nullptr, path);
    *tag = reading.tag;
    return reading.found;
}

int stamp_command(const ParsedArgs& args)
{
    if (!args.has("--id"))
        throw UsageError("--id ID is required");
    check_tag_words(args.get("--id"), args.get("--suffix"));
    if (args.has("--suffix") && args.get("--suffix").empty())
        throw ToolError("--suffix needs 1 to 20 letters, digits or '-'; leave it out for none");
    stamp_file(args.positional[0], args.get("-o"), args.get("--id"), args.get("--suffix"),
               args.has("--in-signature") ? TrailerPlace::SIGNATURE
                                          : TrailerPlace::CERTIFICATE_TABLE);
    return 0;
}

int tag_command(const ParsedArgs& args)
{
    const std::string& path = args.positional[0];
    // The program would fall back on the name of a file it cannot open;
    // here a missing file, a folder or an unreadable one is more likely a
    // mistyped path.
    std::string image = read_program_file(path);
    TagReading reading = read_tag_of(&image, path);
    if (!reading.found || reading.tag.empty()) {
        // From the name: no trailer, and no "polvex" + tag in the name.
        fprintf(stderr, "%s: the program would read no tag (%s); %s\n", path.c_str(),
                reading.form.c_str(), reading.signature.c_str());
        return 1;
    }
    write_output("", reading.tag + "\n");
    fprintf(stderr, "%s: %s; %s\n", path.c_str(), reading.form.c_str(), reading.signature.c_str());
    return 0;
}
