// dlmtool tag: the distribution tag the program would read from a file.
#include <stdio.h>

#include "cli/args.h"
#include "commands/commands.h"
#include "files/output.h"
#include "pe/program_file.h"
#include "pe/tag_reading.h"

const char tag_usage[] =
    "usage: dlmtool tag FILE\n"
    "Prints the distribution tag that the program would read when run from\n"
    "FILE: from its trailer, or else from its file name (\"polvex\" + tag).\n"
    "Then tells on standard error where it found the tag and whether FILE is\n"
    "signed with its image digest intact. Exits 1, printing nothing on\n"
    "standard output, when the program would read no tag or an empty one (no\n"
    "trailer, and a name without \"polvex\" + tag); a folder or a file that\n"
    "cannot be read is an error.\n";

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
