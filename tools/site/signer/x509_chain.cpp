#include "site/signer/x509_chain.h"

#include <openssl/err.h>

void free_chain(STACK_OF(X509) * chain)
{
    sk_X509_pop_free(chain, X509_free);
}

namespace {

// The failures of a chain that ends at no root the store holds.
bool ends_at_no_root(int error)
{
    switch (error) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_CERT_UNTRUSTED:
        return true;
    default:
        return false;
    }
}

// Without roots to judge by, a chain that ends where the signature's
// certificates end is taken as it is; every other fault still counts.
int chain_without_root(int ok, X509_STORE_CTX* context)
{
    return ends_at_no_root(X509_STORE_CTX_get_error(context)) ? 1 : ok;
}

// What a failed chain means, naming the certificate it failed at.
std::string chain_error(X509_STORE_CTX* context, const SignerPin& pin)
{
    int error = X509_STORE_CTX_get_error(context);
    X509* cert = X509_STORE_CTX_get_current_cert(context);
    std::string name = cert ? "the certificate of '" + certificate_name(cert) + "'" : "a certificate";
    if (error == X509_V_ERR_CERT_HAS_EXPIRED)
        return name + " expired on " + date_text(X509_get0_notAfter(cert));
    if (error == X509_V_ERR_CERT_NOT_YET_VALID)
        return name + " is not valid before " + date_text(X509_get0_notBefore(cert));
    if (ends_at_no_root(error)) {
        if (!pin.roots_file.empty())
            return "its chain ends at no root in " + pin.roots_file;
        return "its chain ends at no root this system trusts (give the roots the users' "
               "Windows trusts with --signer-ca-file)";
    }
    return name + ": " + X509_verify_cert_error_string(error);
}

}  // namespace

Store trust_store(const SignerPin& pin, std::string* why)
{
    Store store(X509_STORE_new());
    if (store && !pin.judge_trust) {
        X509_STORE_set_verify_cb(store.get(), chain_without_root);
        return store;
    }
    bool roots = store && (pin.roots_file.empty()
                               ? X509_STORE_set_default_paths(store.get()) == 1
                               : X509_STORE_load_file(store.get(), pin.roots_file.c_str()) == 1);
    if (!roots) {
        *why = "the trusted roots cannot be read" + (pin.roots_file.empty() ? "" : " from " + pin.roots_file);
        store.reset();
    }
    return store;
}

std::string chain_problem(X509_STORE* store, X509* cert, STACK_OF(X509) * untrusted, time_t when,
                          const SignerPin& pin, Chain* chain)
{
    std::unique_ptr<X509_STORE_CTX, Freer<X509_STORE_CTX, X509_STORE_CTX_free>> context(
        X509_STORE_CTX_new());
    if (!context || X509_STORE_CTX_init(context.get(), store, cert, untrusted) != 1)
        return "its chain cannot be followed (out of memory)";
    // No purpose: the usages are checked one by one, as Windows reads them.
    if (when != 0)
        X509_STORE_CTX_set_time(context.get(), 0, when);
    if (X509_verify_cert(context.get()) != 1)
        return chain_error(context.get(), pin);
    chain->reset(X509_STORE_CTX_get1_chain(context.get()));
    return std::string();
}

std::string certificate_name(X509* cert)
{
    X509_NAME* name = X509_get_subject_name(cert);
    int index = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
    unsigned char* utf8 = nullptr;
    int length = index < 0 ? -1
                           : ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index)));
    if (length < 0) {
        char line[256];
        return X509_NAME_oneline(name, line, sizeof line) ? line : "";
    }
    std::string text(reinterpret_cast<char*>(utf8), static_cast<size_t>(length));
    OPENSSL_free(utf8);
    return text;
}

std::string date_text(const ASN1_TIME* time)
{
    struct tm parts = {};
    char text[32] = "an unreadable date";
    if (time && ASN1_TIME_to_tm(time, &parts) == 1)
        strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &parts);
    return text;
}

std::string last_openssl_reason()
{
    std::string reason;
    const char* data = nullptr;
    int flags = 0;
    for (unsigned long code; (code = ERR_get_error_all(nullptr, nullptr, nullptr, &data, &flags)) != 0;) {
        const char* text = ERR_reason_error_string(code);
        reason = text ? text : "unknown failure";
        if ((flags & ERR_TXT_STRING) && data && *data)
            reason += std::string(" (") + data + ")";
    }
    return reason.empty() ? "unknown failure" : reason;
}
