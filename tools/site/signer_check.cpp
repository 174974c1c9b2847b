#include "site/signer_check.h"

#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

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

// The signer's certificate's first subject common name in UTF-8; empty
// when it has none.
std::string common_name(X509* certificate)
{
    X509_NAME* subject = X509_get_subject_name(certificate);
    int index = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
    if (index < 0)
        return std::string();
    unsigned char* utf8 = nullptr;
    int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index)));
    if (length < 0)
        return std::string();
    std::string name(reinterpret_cast<char*>(utf8), static_cast<size_t>(length));
    OPENSSL_free(utf8);
    return name;
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
                           const std::string& roots_file)
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
    // its root are what the program asks of it.
    X509_STORE_set_purpose(store.get(), X509_PURPOSE_ANY);
    Bio data(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
    if (!data || PKCS7_verify(p7.get(), nullptr, store.get(), data.get(), nullptr, PKCS7_BINARY) != 1)
        return "its signature is not valid or does not chain to a trusted root";
    STACK_OF(X509)* signers = PKCS7_get0_signers(p7.get(), nullptr, 0);
    std::string name = signers && sk_X509_num(signers) > 0 ? common_name(sk_X509_value(signers, 0))
                                                           : std::string();
    sk_X509_free(signers);
    if (name != signer)
        return "signed by '" + name + "', not '" + signer + "'";
    return std::string();
}

std::string roots_problem(const std::string& roots_file)
{
    Store store(X509_STORE_new());
    if (!store || X509_STORE_load_file(store.get(), roots_file.c_str()) != 1)
        return "the trusted roots cannot be read from " + roots_file;
    return std::string();
}
