"""What the served-site checks share: the tally of checks, the tool run as
a program, files written, a site configuration built, and made-up Windows
programs."""
import os
import struct
import subprocess


FAILED = []
PASSED = []


def check(condition, what, detail=""):
    (PASSED if condition else FAILED).append(what)
    print(("ok   " if condition else "FAIL ") + what)
    if not condition and detail:
        print("     " + detail.replace("\n", "\n     "))


class Tool:
    def __init__(self, path):
        self.path = path

    def run(self, *args, stdin=None):
        return subprocess.run([self.path] + list(args), input=stdin, capture_output=True,
                               timeout=120)


def lines_of(proc):
    return proc.stdout.decode("latin-1").splitlines()


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def pe_image(size=1024):
    """The headers that make a Windows program, as dlmtool reads them."""
    image = bytearray(b"p" * size)
    image[0:2] = b"MZ"
    image[0x3C:0x40] = struct.pack("<I", 0x40)
    image[0x40:0x44] = b"PE\0\0"
    image[0x54:0x56] = struct.pack("<H", 96 + 16 * 8)  # optional header size
    image[0x58:0x5A] = struct.pack("<H", 0x10B)        # PE32
    image[0x58 + 92:0x58 + 96] = struct.pack("<I", 16)  # data directories
    image[0x58 + 96:0x58 + 96 + 128] = bytes(128)
    return bytes(image)


def program_asking(tool, first, second, signer=None, issuer=None):
    """A build of the program that asks first, then second: its stored
    texts enciphered and laid out as the compiler does; with a signer, a
    build that checks the installer's signer and issuer."""
    def stored(text, align):
        data = tool.run("encipher", stdin=text.encode()).stdout + b"\0"
        return data + b"\0" * (-len(data) % align)
    pin = stored(signer, 4) + stored(issuer, 4) if signer else b""
    return pe_image() + (b"WinVerifyTrust\0" if signer else b"") + b"\0" * 4 + \
        stored(first, 32) + stored(second, 32) + stored("SOFTWARE\\Vendor\\Tag", 4) + pin


def config_text(base, installer, replies):
    return ("# written by the test\n"
            "base %s\n"
            "directory dl/\n"
            "installer %s\n"
            "news Polvex test news one\n"
            "news Polvex test news two\n" % (base, installer)) + replies


def build(tool, work, name, base, installer, replies):
    conf = os.path.join(work, name + ".conf")
    site = os.path.join(work, name)
    write(conf, config_text(base, installer, replies).encode())
    return tool.run("site", "build", conf, site), site
