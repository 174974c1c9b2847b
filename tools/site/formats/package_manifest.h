// The package manifest that lies next to an installer.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

// Throws ToolError unless the program would accept size as the installer's
// size: above 0 and within a signed 32-bit integer. what names the file.
void check_installer_size(uint64_t size, const std::string& what);

// The manifest: the size in decimal, LF, then the news text with an LF
// added to a last line that has none. CR LF line ends stay as they are.
std::string make_manifest(uint64_t installer_size, const std::string& news_text);

// The news text of separate lines, each ended by LF.
std::string news_text_of(const std::vector<std::string>& lines);
