#include "pe/der.h"

namespace {

const size_t MAX_LENGTH_BYTES = 4;

}  // namespace

bool read_der_item(const std::string& data, size_t at, size_t limit, DerItem* item)
{
    if (limit > data.size() || at >= limit || limit - at < 2)
        return false;
    uint8_t tag = static_cast<uint8_t>(data[at]);
    if ((tag & 0x1F) == 0x1F)
        return false;
    size_t first = static_cast<uint8_t>(data[at + 1]);
    size_t start = at + 2;
    size_t length = first;
    if (first & 0x80) {
        size_t count = first & 0x7F;
        if (count == 0 || count > MAX_LENGTH_BYTES || limit - start < count)
            return false;
        length = 0;
        for (size_t i = 0; i < count; ++i)
            length = (length << 8) | static_cast<uint8_t>(data[start + i]);
        start += count;
    }
    if (length > limit - start)
        return false;
    *item = DerItem{tag, at, start, length};
    return true;
}

bool der_children(const std::string& data, const DerItem& item, std::vector<DerItem>* children)
{
    children->clear();
    size_t at = item.start;
    while (at < item.end()) {
        DerItem child;
        if (!read_der_item(data, at, item.end(), &child))
            return false;
        children->push_back(child);
        at = child.end();
    }
    return true;
}

std::string der_content(const std::string& data, const DerItem& item)
{
    return data.substr(item.start, item.length);
}

std::string der_encode(uint8_t tag, const std::string& content)
{
    std::string out(1, static_cast<char>(tag));
    size_t length = content.size();
    if (length < 0x80) {
        out += static_cast<char>(length);
    } else {
        std::string bytes;
        for (size_t rest = length; rest > 0; rest >>= 8)
            bytes.insert(bytes.begin(), static_cast<char>(rest & 0xFF));
        out += static_cast<char>(0x80 | bytes.size());
        out += bytes;
    }
    return out + content;
}
