#include "site/signer/timestamp_check.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/ts.h>
#include <openssl/x509v3.h>

#include "site/signer/x509_chain.h"

namespace {

// The unsigned attribute under which Authenticode keeps an RFC 3161 token.
const char RFC3161_TIMESTAMP[] = "1.3.6.1.4.1.311.3.3.1";

typedef std::unique_ptr<PKCS7_SIGNER_INFO, Freer<PKCS7_SIGNER_INFO, PKCS7_SIGNER_INFO_free>> SignerInfo;

// Whether counter signs the digest of the signer's signature value, as a
// countersignature must: its messageDigest attribute and its own signature.
bool countersigns(PKCS7* signature, PKCS7_SIGNER_INFO* signer, PKCS7_SIGNER_INFO* counter,
                  X509* authority)
{
    const EVP_MD* md = EVP_get_digestbyobj(counter->digest_alg->algorithm);
    Bio digest(md ? BIO_new(BIO_f_md()) : nullptr);
    BIO* value = BIO_new_mem_buf(signer->enc_digest->data, signer->enc_digest->length);
    if (!digest || !value || BIO_set_md(digest.get(), md) != 1) {
        BIO_free(value);
        return false;
    }
    BIO_push(digest.get(), value);
    char block[256];
    while (BIO_read(digest.get(), block, sizeof block) > 0) {
    }
    return PKCS7_signatureVerify(digest.get(), signature, counter, authority) == 1;
}

time_t signing_time(PKCS7_SIGNER_INFO* counter)
{
    ASN1_TYPE* when = PKCS7_get_signed_attribute(counter, NID_pkcs9_signingTime);
    struct tm parts = {};
    if (!when || (when->type != V_ASN1_UTCTIME && when->type != V_ASN1_GENERALIZEDTIME) ||
        ASN1_TIME_to_tm(when->value.utctime, &parts) != 1)
        return 0;
    return timegm(&parts);
}

// The authority's chain at the time it stamped, and its time-stamping usage.
std::string authority_problem(STACK_OF(X509) * carried, X509* authority, time_t when,
                              const SignerPin& pin)
{
    std::string why;
    Store store = trust_store(pin, &why);
    Chain chain;
    if (store)
        why = chain_problem(store.get(), authority, carried, when, pin, &chain);
    if (!why.empty())
        return why;
    if (!(X509_get_extension_flags(authority) & EXFLAG_XKUSAGE) ||
        !(X509_get_extended_key_usage(authority) & XKU_TIMESTAMP))
        return "'" + certificate_name(authority) + "' is not a time-stamping authority";
    return std::string();
}

std::string legacy_problem(PKCS7* signature, PKCS7_SIGNER_INFO* signer, const ASN1_TYPE* value,
                           const SignerPin& pin)
{
    const unsigned char* at = value->type == V_ASN1_SEQUENCE ? value->value.sequence->data : nullptr;
    SignerInfo counter(at ? d2i_PKCS7_SIGNER_INFO(nullptr, &at, value->value.sequence->length) : nullptr);
    if (!counter)
        return "cannot be read";
    STACK_OF(X509)* carried = signature->d.sign->cert;
    X509* authority = X509_find_by_issuer_and_serial(carried, counter->issuer_and_serial->issuer,
                                                     counter->issuer_and_serial->serial);
    if (!authority)
        return "names a certificate the signature does not carry";
    if (!countersigns(signature, signer, counter.get(), authority))
        return "is not signed by '" + certificate_name(authority) + "' over this signature (forged or broken)";
    time_t when = signing_time(counter.get());
    if (when == 0)
        return "holds no signing time";
    return authority_problem(carried, authority, when, pin);
}

// The token's time, its signature and chain at that time, and its imprint:
// the digest of the signer's signature value.
std::string rfc3161_problem(PKCS7_SIGNER_INFO* signer, const ASN1_TYPE* value, const SignerPin& pin)
{
    const unsigned char* at = value->type == V_ASN1_SEQUENCE ? value->value.sequence->data : nullptr;
    Pkcs7 token(at ? d2i_PKCS7(nullptr, &at, value->value.sequence->length) : nullptr);
    std::unique_ptr<TS_TST_INFO, Freer<TS_TST_INFO, TS_TST_INFO_free>> info(
        token ? PKCS7_to_TS_TST_INFO(token.get()) : nullptr);
    struct tm parts = {};
    if (!info || ASN1_TIME_to_tm(TS_TST_INFO_get_time(info.get()), &parts) != 1)
        return "cannot be read";
    // The authority's chain first, in the words of the signer's own.
    STACK_OF(X509)* signers = PKCS7_get0_signers(token.get(), nullptr, 0);
    X509* authority = sk_X509_num(signers) == 1 ? sk_X509_value(signers, 0) : nullptr;
    sk_X509_free(signers);
    if (!authority)
        return "names no one authority";
    std::string why = authority_problem(token->d.sign->cert, authority, timegm(&parts), pin);
    if (!why.empty())
        return why;
    Store store = trust_store(pin, &why);
    std::unique_ptr<TS_VERIFY_CTX, Freer<TS_VERIFY_CTX, TS_VERIFY_CTX_free>> context(TS_VERIFY_CTX_new());
    if (!store || !context)
        return why.empty() ? "cannot be checked (out of memory)" : why;
    X509_VERIFY_PARAM_set_time(X509_STORE_get0_param(store.get()), timegm(&parts));
    TS_VERIFY_CTX_set_flags(context.get(), TS_VFY_SIGNATURE | TS_VFY_VERSION | TS_VFY_DATA);
    TS_VERIFY_CTX_set_data(context.get(),
                           BIO_new_mem_buf(signer->enc_digest->data, signer->enc_digest->length));
    TS_VERIFY_CTX_set_store(context.get(), store.release());
    TS_VERIFY_CTX_set_certs(context.get(), X509_chain_up_ref(token->d.sign->cert));
    ERR_clear_error();
    if (TS_RESP_verify_token(context.get(), token.get()) != 1)
        return "fails: " + last_openssl_reason();
    return std::string();
}

}  // namespace

std::string timestamps_problem(PKCS7* signature, const SignerPin& pin)
{
    PKCS7_SIGNER_INFO* signer = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(signature), 0);
    STACK_OF(X509_ATTRIBUTE)* attributes = signer ? signer->unauth_attr : nullptr;
    for (int i = 0; i < sk_X509_ATTRIBUTE_num(attributes); ++i) {
        X509_ATTRIBUTE* attribute = sk_X509_ATTRIBUTE_value(attributes, i);
        char oid[64] = "";
        OBJ_obj2txt(oid, sizeof oid, X509_ATTRIBUTE_get0_object(attribute), 1);
        const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, 0);
        if (value && OBJ_obj2nid(X509_ATTRIBUTE_get0_object(attribute)) == NID_pkcs9_countersignature) {
            std::string why = legacy_problem(signature, signer, value, pin);
            if (!why.empty())
                return "its timestamp (legacy): " + why;
        } else if (value && std::string(oid) == RFC3161_TIMESTAMP) {
            std::string why = rfc3161_problem(signer, value, pin);
            if (!why.empty())
                return "its timestamp (RFC 3161): " + why;
        }
    }
    return std::string();
}
