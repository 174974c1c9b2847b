"""Test roots and server certificates made with openssl, and the TLS
servers that present them: shared by the whole-program scenarios, the demo
and the served-site runs of dlmtool."""
import os
import subprocess
import time


class TlsServer:
    """One TLS server of an Nginx: its port, certificate and key files, and
    further nginx location lines."""

    def __init__(self, port, cert, key, locations=""):
        self.port, self.cert, self.key, self.locations = port, cert, key, locations

    def url(self, host="127.0.0.1"):
        return "https://%s:%d/" % (host, self.port)



class TestCertificates:
    """Test roots and server certificates made with openssl in a folder of
    their own. A root is made once per folder and kept (trusting it again
    in a prefix changes nothing); server certificates are made anew."""
    CA_CONFIG = """[ca]
default_ca = test_ca
[test_ca]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = any_name
copy_extensions = copy
unique_subject = no
[any_name]
commonName = supplied
"""

    def __init__(self, folder):
        self.dir = folder
        os.makedirs(folder, exist_ok=True)

    def openssl(self, *args):
        proc = subprocess.run(["openssl"] + list(args), cwd=self.dir, capture_output=True,
                              text=True)
        if proc.returncode != 0:
            raise RuntimeError("openssl %s: %s" % (args[0], proc.stderr.strip()[-300:]))

    def root(self, name):
        """The root NAME: (PEM path, DER path), made if missing."""
        pem, der = (os.path.join(self.dir, name + ext) for ext in (".pem", ".der"))
        if not os.path.exists(der):
            self.openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key",
                         "-out", name + ".pem", "-days", "3650", "-subj", "/CN=Polvex Test " + name,
                         "-addext", "basicConstraints=critical,CA:TRUE",
                         "-addext", "keyUsage=critical,keyCertSign,cRLSign")
            self.openssl("x509", "-in", name + ".pem", "-outform", "DER", "-out", name + ".der")
        return pem, der

    def server(self, name, root, names, start_days=-1, end_days=2):
        """A server certificate NAME issued by root for the host names and
        addresses given, valid from start_days to end_days from now: (cert
        path, key path)."""
        config = os.path.join(self.dir, "ca.cnf")
        with open(config, "w") as f:
            f.write(self.CA_CONFIG)
        with open(os.path.join(self.dir, "index.txt"), "w"):
            pass
        with open(os.path.join(self.dir, "serial"), "w") as f:
            f.write("%x\n" % (int(time.time() * 1000) | 1 << 44))
        # An address is named twice: as an address, which Windows and curl
        # match, and as a DNS name, the only kind wine 8's crypt32 matches
        # (it fails an address's IP entry with CERT_E_CN_NO_MATCH).
        alt = ",".join(("IP:%s,DNS:%s" % (n, n)) if n[0].isdigit() else "DNS:" + n for n in names)
        self.openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out",
                     name + ".csr", "-subj", "/CN=" + names[0], "-addext", "subjectAltName=" + alt,
                     "-addext", "extendedKeyUsage=serverAuth")
        stamp = lambda days: time.strftime("%Y%m%d%H%M%SZ", time.gmtime(time.time() + days * 86400))
        self.openssl("ca", "-batch", "-notext", "-config", "ca.cnf", "-cert", root + ".pem",
                     "-keyfile", root + ".key", "-in", name + ".csr", "-out", name + ".pem",
                     "-startdate", stamp(start_days), "-enddate", stamp(end_days))
        return os.path.join(self.dir, name + ".pem"), os.path.join(self.dir, name + ".key")

