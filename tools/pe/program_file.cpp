#include "pe/program_file.h"

#include "cli/cli.h"
#include "files/files.h"
#include "pe/pe_signature.h"

std::string read_program_file(const std::string& path)
{
    readable_file_size(path);  // a folder or a device is refused here
    return read_file(path);
}

std::string read_windows_program(const std::string& path)
{
    std::string image = read_program_file(path);
    if (read_signed_image(image).kind == SignedImage::NOT_PE)
        throw ToolError(path + " is not a Windows program (no MZ and PE headers)");
    return image;
}

void check_program(const std::string& path)
{
    read_windows_program(path);
}
