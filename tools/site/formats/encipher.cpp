#include "site/formats/encipher.h"

#include "cipher.h"

namespace {

struct EncipherTable {
    unsigned char entry[256];
    EncipherTable()
    {
        for (int i = 0; i < 256; ++i)
            entry[decipher_table[i]] = static_cast<unsigned char>(i);
        entry[0] = 0;
    }
};

}  // namespace

std::string encipher(const std::string& plain)
{
    static const EncipherTable table;
    std::string out(plain);
    for (char& c : out)
        c = static_cast<char>(table.entry[static_cast<unsigned char>(c)]);
    return out;
}

std::string decipher(const std::string& enciphered)
{
    std::string out(enciphered);
    for (char& c : out)
        c = static_cast<char>(decipher_table[static_cast<unsigned char>(c)]);
    return out;
}
