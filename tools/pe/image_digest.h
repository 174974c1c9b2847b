// The image digest that an Authenticode signature signs, compared with
// the image's own.
#pragma once
#include <string>

#include "pe/pe_signature.h"

// Whether the digest of the image, as Authenticode computes it, is the one
// the signature signs. Says why not in why.
bool image_digest_matches(const std::string& image, const SignedImage& layout, std::string* why);
