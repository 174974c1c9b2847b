"""Throwaway signing keys for the tests that sign programs, made at test
time."""
import base64
import datetime
import http.server
import os
import subprocess
import threading

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


def der_children(data):
    """The (tag, content) items of a DER text, one after another."""
    items, at = [], 0
    while at < len(data):
        tag, length, at = data[at], data[at + 1], at + 2
        if length & 0x80:
            count = length & 0x7F
            length, at = int.from_bytes(data[at:at + count], "big"), at + count
        items.append((tag, data[at:at + length]))
        at += length
    return items


class TimestampAuthority:
    """A time-stamping authority on loopback, signing with the authority
    given (file names in work): to an RFC 3161 request (osslsigncode -ts)
    the reply of openssl ts; to the legacy request (osslsigncode -t: the
    signature value inside a ContentInfo, in base64) a countersignature of
    that value made by openssl cms, in base64. at, a time in the past that
    its timestamps claim (as faketime reads it: "36 hours ago"); with
    carried False, a legacy timestamp leaves the authority's certificate
    out."""

    def __init__(self, work, authority, at=None, carried=True):
        config = os.path.join(work, "tsa.cnf")

        def write(path, data):
            with open(path, "wb") as f:
                f.write(data)
        write(config, ("[tsa]\ndefault_tsa = authority\n[authority]\nserial = %s\n"
                       "default_policy = 1.2.3.4.1\ndigests = sha256\nsigner_digest = sha256\n"
                       "ess_cert_id_alg = sha256\n" % os.path.join(work, "tsa-serial")).encode())
        write(os.path.join(work, "tsa-serial"), b"01\n")
        request = os.path.join(work, "timestamp-request.bin")
        signer = ["-signer", authority + ".pem", "-inkey", authority + ".key"]

        def answer(body, rfc3161):
            if rfc3161:
                write(request, body)
                command = ["openssl", "ts", "-reply", "-config", config, "-queryfile", request,
                           *signer, "-out", "-"]
            else:
                content = der_children(der_children(der_children(body)[0][1])[1][1])
                write(request, der_children(content[1][1])[0][1])
                command = ["openssl", "cms", "-sign", "-binary", "-nodetach", "-nosmimecap",
                           "-outform", "DER", "-md", "sha256", *signer, "-in", request]
                command += [] if carried else ["-nocerts"]
            clock = ["faketime", at] if at else []
            return subprocess.run(clock + command, cwd=work, capture_output=True,
                                  check=True).stdout

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                body = self.rfile.read(int(self.headers["Content-Length"]))
                rfc3161 = self.headers["Content-Type"] == "application/timestamp-query"
                reply = answer(body, True) if rfc3161 else \
                    base64.b64encode(answer(base64.b64decode(body), False))
                self.send_response(200)
                self.send_header("Content-Type", "application/timestamp-reply" if rfc3161
                                 else "application/octet-stream")
                self.send_header("Content-Length", str(len(reply)))
                self.end_headers()
                self.wfile.write(reply)

            def log_message(self, *args):
                pass
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d/" % self.httpd.server_address[1]
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()
