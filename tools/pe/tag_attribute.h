// The signer's tag attribute: an unauthenticated attribute of an
// Authenticode signature that can hold the distribution tag trailer without
// breaking the signature.
#pragma once
#include <string>

// The signature with the tag attribute of its signer removed (trailer
// empty) or set to one whose value ends with trailer, sized so that the
// signature's length is a multiple of 8. Throws ToolError when the
// signature is not laid out as Authenticode lays it out (one signer, each
// item the last of its parent down to the signer).
std::string signature_with_trailer(const std::string& signature, const std::string& trailer);

// Whether the signature's last bytes are the value of the tag attribute.
bool ends_with_tag_attribute(const std::string& signature);
