// The walk through an Authenticode signature from its ContentInfo down to
// its one signer, which both the tag attribute and the image digest take.
#pragma once
#include <string>
#include <vector>

#include "pe/der.h"

// The signature's items from the ContentInfo down to its signer, each the
// last item of the one before, and the signer's own items.
struct SignerPath {
    std::vector<DerItem> chain;
    std::vector<DerItem> signer_items;
};

// Why a signature cannot be walked: not laid out as Authenticode lays it.
extern const char NOT_AUTHENTICODE[];

// Walks ContentInfo, [0], SignedData, SignerInfos, the signer. Returns why
// it cannot, or empty.
std::string walk_to_signer(const std::string& signature, SignerPath* path);
