// The texts the program stores enciphered: they stay so in the image
// and are deciphered into a buffer of the caller's when used.
#pragma once
#include <stddef.h>

extern const char stored_bootstrap_url_1[];
extern const char stored_bootstrap_url_2[];
extern const char stored_tag_key_path[];
// Only in a build that checks the installer's signer.
extern const char stored_installer_signer[];
extern const char stored_installer_issuer[];

// The buffer the tag key's path is deciphered into; the build refuses a
// longer DLM_TAG_KEY.
const size_t TAG_KEY_PATH_SIZE = 260;
