#include "pe/tag_reading.h"

#include <stdint.h>

#include <algorithm>

#include "cli/cli.h"
#include "files/files.h"
#include "buffer_sizes.h"
#include "pe/image_digest.h"
#include "pe/pe_signature.h"
#include "pe/tag_attribute.h"
#include "tag.h"

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

bool has_trailer(const std::string& image)
{
    ImageTagFiles files{&image};
    char tag[TAG_BUFFER_SIZE];
    // The program's own reader decides what counts as a trailer.
    return read_tag_trailer("", files.ops(), tag, sizeof tag) != 0;
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
