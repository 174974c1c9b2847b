// A small reader and writer of DER items, for the few steps dlmtool takes
// inside an Authenticode signature. The bytes come from a file that anyone
// could have made: every read is bounded by the item that holds it.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// One item of an encoding: its tag byte at `at`, its content from `start`
// for `length` bytes.
struct DerItem {
    uint8_t tag = 0;
    size_t at = 0;
    size_t start = 0;
    size_t length = 0;

    size_t end() const { return start + length; }
};

const uint8_t DER_OCTET_STRING = 0x04;
const uint8_t DER_OID = 0x06;
const uint8_t DER_SEQUENCE = 0x30;
const uint8_t DER_SET = 0x31;
const uint8_t DER_CONTEXT_0 = 0xA0;  // [0], constructed
const uint8_t DER_CONTEXT_1 = 0xA1;  // [1], constructed

// Reads the item that starts at `at` and must end by `limit`. Returns false
// when it does not fit, has a tag of more than one byte, an indefinite
// length or a length of more than four bytes.
bool read_der_item(const std::string& data, size_t at, size_t limit, DerItem* item);

// The items inside item, in order. Returns false when they do not exactly
// fill it.
bool der_children(const std::string& data, const DerItem& item, std::vector<DerItem>* children);

// The content of an item.
std::string der_content(const std::string& data, const DerItem& item);

// The encoding of an item with this tag and content (shortest length form).
std::string der_encode(uint8_t tag, const std::string& content);
