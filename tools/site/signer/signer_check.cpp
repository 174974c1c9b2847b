#include "site/signer/signer_check.h"

#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <time.h>

#include <memory>

#include "pe/der.h"
#include "pe/image_digest.h"
#include "pe/pe_signature.h"

namespace {

template <typename T, void (*Free)(T*)>
struct Freer {
    void operator()(T* object) const { Free(object); }
};
typedef std::unique_ptr<PKCS7, Freer<PKCS7, PKCS7_free>> Pkcs7;
typedef std::unique_ptr<X509_STORE, Freer<X509_STORE, X509_STORE_free>> Store;
typedef std::unique_ptr<BIO, Freer<BIO, BIO_free_all>> Bio;

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

// The time of the signature's timestamp (a countersignature's signing
// time), 0 when it has none. Windows judges the chain at that time.
time_t timestamp_time(PKCS7* p7)
{
    STACK_OF(PKCS7_SIGNER_INFO)* infos = PKCS7_get_signer_info(p7);
    ASN1_TYPE* counter = infos && sk_PKCS7_SIGNER_INFO_num(infos) > 0
                             ? PKCS7_get_attribute(sk_PKCS7_SIGNER_INFO_value(infos, 0),
                                                   NID_pkcs9_countersignature)
                             : nullptr;
    if (!counter || counter->type != V_ASN1_SEQUENCE)
        return 0;
    const unsigned char* at = counter->value.sequence->data;
    std::unique_ptr<PKCS7_SIGNER_INFO, Freer<PKCS7_SIGNER_INFO, PKCS7_SIGNER_INFO_free>> info(
        d2i_PKCS7_SIGNER_INFO(nullptr, &at, counter->value.sequence->length));
    ASN1_TYPE* when = info ? PKCS7_get_signed_attribute(info.get(), NID_pkcs9_signingTime) : nullptr;
    struct tm parts = {};
    if (!when || when->type != V_ASN1_UTCTIME || ASN1_TIME_to_tm(when->value.utctime, &parts) != 1)
        return 0;
    return timegm(&parts);
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

}  // namespace

std::string signer_problem(const std::string& image, const std::string& signer,
                           const std::string& issuer, const std::string& roots_file)
{
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
    Store store(X509_STORE_new());
    bool roots = store && (roots_file.empty()
                               ? X509_STORE_set_default_paths(store.get()) == 1
                               : X509_STORE_load_file(store.get(), roots_file.c_str()) == 1);
    if (!roots)
        return "the trusted roots cannot be read" + (roots_file.empty() ? "" : " from " + roots_file);
    // Code signing has no purpose of its own here: the chain's validity and
    // its root are what the program asks of it, the usage is checked below.
    X509_STORE_set_purpose(store.get(), X509_PURPOSE_ANY);
    // As Windows does: valid when the signature was timestamped, if it was.
    // (The timestamp's own signature is not checked here.)
    time_t stamped = timestamp_time(p7.get());
    if (stamped != 0)
        X509_VERIFY_PARAM_set_time(X509_STORE_get0_param(store.get()), stamped);
    Bio data(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
    if (!data || PKCS7_verify(p7.get(), nullptr, store.get(), data.get(), nullptr, PKCS7_BINARY) != 1)
        return "its signature is not valid or does not chain to a trusted root";
    STACK_OF(X509)* signers = PKCS7_get0_signers(p7.get(), nullptr, 0);
    X509* leaf = signers && sk_X509_num(signers) > 0 ? sk_X509_value(signers, 0) : nullptr;
    sk_X509_free(signers);
    if (!leaf)
        return "its signature names no signer";
    if (!(X509_get_extension_flags(leaf) & EXFLAG_XKUSAGE) ||
        !(X509_get_extended_key_usage(leaf) & XKU_CODE_SIGN))
        return "the signer's certificate does not allow code signing";
    std::string name = only_common_name(X509_get_subject_name(leaf));
    if (name != signer)
        return "signed by '" + name + "', not '" + signer + "' (one common name, no NUL)";
    std::string authority = only_common_name(X509_get_issuer_name(leaf));
    if (authority != issuer)
        return "issued by '" + authority + "', not '" + issuer + "' (one common name, no NUL)";
    return std::string();
}

std::string roots_problem(const std::string& roots_file)
{
    Store store(X509_STORE_new());
    if (!store || X509_STORE_load_file(store.get(), roots_file.c_str()) != 1)
        return "the trusted roots cannot be read from " + roots_file;
    return std::string();
}
