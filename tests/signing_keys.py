"""Throwaway signing keys for the tests that sign programs, made at test
time."""
import datetime
import os

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

NOW = datetime.datetime.now(datetime.timezone.utc)
PEM = serialization.Encoding.PEM
SERVER_AUTH = ExtendedKeyUsageOID.SERVER_AUTH
TIME_STAMPING = ExtendedKeyUsageOID.TIME_STAMPING


def make_signing_keys(work, root, leaves, root_name=None):
    """In work: a root certificate and key (root.pem, root.der, root.key),
    named root_name (root when not given), and for each entry of leaves a
    certificate and key (leaf.pem, leaf.key): (file name, common name) or
    (file name, common name, options): issuer, the file name of an earlier
    entry that issues it (default the root); ca, True for an authority;
    usage, its extended key usage (default code signing but for an
    authority; None for none); names, its subject's common names (default
    the one given); crl, the URL of its revocation list, or a list of them
    (one distribution point each); days, how long it stays valid from now
    (default 90; negative: it has expired). A time-stamping usage is marked
    critical, as time-stamping authorities mark it."""
    made = {}
    for leaf, name, options in [(root, root_name or root, {"ca": True, "issuer": None})] + [
            entry if len(entry) > 2 else entry + ({},) for entry in leaves]:
        key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
        subject = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, n)
                             for n in options.get("names", [name])])
        issuer_name, issuer_key = made.get(options.get("issuer", root), (subject, key))
        ca = options.get("ca", False)
        builder = (x509.CertificateBuilder().subject_name(subject).issuer_name(issuer_name)
                   .public_key(key.public_key()).serial_number(x509.random_serial_number())
                   .not_valid_before(NOW - datetime.timedelta(
                       hours=1, days=max(0, 1 - options.get("days", 90))))
                   .not_valid_after(NOW + datetime.timedelta(days=options.get("days", 90)))
                   .add_extension(x509.BasicConstraints(ca=ca, path_length=None), ca))
        usage = options.get("usage", None if ca else ExtendedKeyUsageOID.CODE_SIGNING)
        if usage:
            builder = builder.add_extension(x509.ExtendedKeyUsage([usage]),
                                            usage == ExtendedKeyUsageOID.TIME_STAMPING)
        if "crl" in options:
            crls = options["crl"] if isinstance(options["crl"], list) else [options["crl"]]
            builder = builder.add_extension(x509.CRLDistributionPoints([x509.DistributionPoint(
                [x509.UniformResourceIdentifier(url)], None, None, None) for url in crls]), False)
        cert = builder.sign(issuer_key, hashes.SHA256())
        made[leaf] = (subject, key)
        for ext, data in ((".pem", cert.public_bytes(PEM)), (".key", key.private_bytes(
                PEM, serialization.PrivateFormat.PKCS8, serialization.NoEncryption()))):
            with open(os.path.join(work, leaf + ext), "wb") as f:
                f.write(data)
    with open(os.path.join(work, root + ".der"), "wb") as f:
        f.write(x509.load_pem_x509_certificate(open(os.path.join(work, root + ".pem"), "rb")
                                               .read()).public_bytes(serialization.Encoding.DER))


def make_crl(work, issuer, revoked, out):
    """A revocation list signed by issuer (file name in work) that revokes
    the certificates of the file names in revoked, written to out (DER)."""
    def load(name, ext):
        with open(os.path.join(work, name + ext), "rb") as f:
            return f.read()
    builder = (x509.CertificateRevocationListBuilder()
               .issuer_name(x509.load_pem_x509_certificate(load(issuer, ".pem")).subject)
               .last_update(NOW - datetime.timedelta(hours=1))
               .next_update(NOW + datetime.timedelta(days=2)))
    for name in revoked:
        builder = builder.add_revoked_certificate(x509.RevokedCertificateBuilder().serial_number(
            x509.load_pem_x509_certificate(load(name, ".pem")).serial_number)
            .revocation_date(NOW).build())
    key = serialization.load_pem_private_key(load(issuer, ".key"), None)
    with open(out, "wb") as f:
        f.write(builder.sign(key, hashes.SHA256()).public_bytes(serialization.Encoding.DER))
