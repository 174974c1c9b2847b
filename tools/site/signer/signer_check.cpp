#include "site/signer/signer_check.h"

#include <openssl/x509v3.h>

#include "pe/der.h"
#include "pe/image_digest.h"
#include "pe/pe_signature.h"
#include "site/signer/timestamp_check.h"
#include "site/signer/x509_chain.h"

namespace {

// How long before the signing certificate expires the check warns.
const time_t EXPIRY_WARNING_SECONDS = static_cast<time_t>(30) * 86400;

// The one common name of name in UTF-8, whole; empty when it holds none,
// several, or one with a NUL, which the program refuses too.
std::string only_common_name(X509_NAME* name)
{
    int index = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
    if (index < 0 || X509_NAME_get_index_by_NID(name, NID_commonName, index) >= 0)
        return std::string();
    unsigned char* utf8 = nullptr;
    int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index)));
    if (length < 0)
        return std::string();
    std::string text(reinterpret_cast<char*>(utf8), static_cast<size_t>(length));
    OPENSSL_free(utf8);
    return text.find('\0') == std::string::npos ? text : std::string();
}

// The bytes an Authenticode signature signs: the content of its
// SpcIndirectDataContent, without that sequence's tag and length.
bool signed_content(PKCS7* p7, std::string* content)
{
    ASN1_TYPE* other = p7->d.sign->contents->d.other;
    if (!other || other->type != V_ASN1_SEQUENCE)
        return false;
    std::string sequence(reinterpret_cast<const char*>(other->value.sequence->data),
                         static_cast<size_t>(other->value.sequence->length));
    DerItem item;
    if (!read_der_item(sequence, 0, sequence.size(), &item) || item.end() != sequence.size())
        return false;
    *content = der_content(sequence, item);
    return true;
}

// The signer's certificate, once its signature over content holds.
X509* signer_of(PKCS7* p7, const std::string& content)
{
    Bio data(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
    // The chain is followed apart, by the usages Windows reads.
    if (!data || PKCS7_verify(p7, nullptr, nullptr, data.get(), nullptr,
                              PKCS7_BINARY | PKCS7_NOVERIFY) != 1)
        return nullptr;
    STACK_OF(X509)* signers = PKCS7_get0_signers(p7, nullptr, 0);
    X509* leaf = signers && sk_X509_num(signers) > 0 ? sk_X509_value(signers, 0) : nullptr;
    sk_X509_free(signers);
    return leaf;
}

// Code signing in the extended key usage: the leaf must list it; an
// authority may instead have no such limit, or allow any usage.
bool allows_code_signing(X509* cert, bool leaf)
{
    if (!(X509_get_extension_flags(cert) & EXFLAG_XKUSAGE))
        return !leaf;
    uint32_t usage = X509_get_extended_key_usage(cert);
    return (usage & XKU_CODE_SIGN) || (!leaf && (usage & XKU_ANYEKU));
}

// The certificate of the chain that expires first, when that is within
// the warning's weeks: the vendor signs anew before the users refuse it.
std::string expiry_warning(STACK_OF(X509) * chain)
{
    X509* first = nullptr;
    for (int i = 0; i < sk_X509_num(chain); ++i) {
        X509* cert = sk_X509_value(chain, i);
        if (!first || ASN1_TIME_compare(X509_get0_notAfter(cert), X509_get0_notAfter(first)) < 0)
            first = cert;
    }
    time_t soon = time(nullptr) + EXPIRY_WARNING_SECONDS;
    if (!first || X509_cmp_time(X509_get0_notAfter(first), &soon) > 0)
        return std::string();
    return "the certificate of '" + certificate_name(first) + "' expires on " +
           date_text(X509_get0_notAfter(first)) + ": sign the installers anew before then";
}

// The chain now, the usages along it, and the warning of its end.
std::string chain_of_signer(PKCS7* p7, X509* leaf, const SignerPin& pin, std::string* warning)
{
    std::string why;
    Store store = trust_store(pin, &why);
    if (!store)
        return why;
    Chain chain;
    why = chain_problem(store.get(), leaf, p7->d.sign->cert, 0, pin, &chain);
    if (!why.empty())
        return why;
    if (!allows_code_signing(leaf, true))
        return "the signer's certificate does not allow code signing";
    for (int i = 1; i < sk_X509_num(chain.get()); ++i) {
        X509* authority = sk_X509_value(chain.get(), i);
        if (!allows_code_signing(authority, false))
            return "the authority '" + certificate_name(authority) +
                   "' above the signer's certificate does not allow code signing (its extended key usage)";
    }
    *warning = expiry_warning(chain.get());
    return std::string();
}

std::string names_problem(X509* leaf, const SignerPin& pin)
{
    std::string name = only_common_name(X509_get_subject_name(leaf));
    if (name != pin.signer)
        return "signed by '" + name + "', not '" + pin.signer + "' (one common name, no NUL)";
    std::string authority = only_common_name(X509_get_issuer_name(leaf));
    if (authority != pin.issuer)
        return "issued by '" + authority + "', not '" + pin.issuer + "' (one common name, no NUL)";
    return std::string();
}

}  // namespace

std::string signer_problem(const std::string& image, const SignerPin& pin, std::string* warning)
{
    warning->clear();
    SignedImage layout = read_signed_image(image);
    if (layout.kind == SignedImage::NOT_PE)
        return "not a Windows program";
    std::string why;
    if (!image_digest_matches(image, layout, &why))
        return why;
    const unsigned char* at = reinterpret_cast<const unsigned char*>(layout.signature.data());
    Pkcs7 p7(d2i_PKCS7(nullptr, &at, static_cast<long>(layout.signature.size())));
    std::string content;
    if (!p7 || !PKCS7_type_is_signed(p7.get()) || !signed_content(p7.get(), &content))
        return "its signature cannot be read";
    X509* leaf = signer_of(p7.get(), content);
    if (!leaf)
        return "its signature is not valid";
    why = chain_of_signer(p7.get(), leaf, pin, warning);
    if (why.empty())
        why = names_problem(leaf, pin);
    if (why.empty())
        why = timestamps_problem(p7.get(), pin);
    return why;
}

std::string roots_problem(const std::string& roots_file)
{
    Store store(X509_STORE_new());
    if (!store || X509_STORE_load_file(store.get(), roots_file.c_str()) != 1)
        return "the trusted roots cannot be read from " + roots_file;
    return std::string();
}
