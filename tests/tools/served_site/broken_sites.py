"""Broken sites: one table of sites that site build refuses or site check
fails, each through both, and the JSON report of one."""
import json
import os

from folder_server import Server
from served_site.common import check, config_text, lines_of, program_asking, write


def hops(first, count, kind):
    """Reply lines: first -> h1.txt -> ... -> h<count>.txt (direct), each
    hop a redirect, or a raw record (which site build does not follow)."""
    names = [first] + ["dlm/h%d.txt" % i for i in range(1, count + 1)]
    if kind == "redirect":
        lines = ["reply %s redirect %s" % (a, b) for a, b in zip(names, names[1:])]
    else:
        lines = ["reply %s record iFlag=1|sUrl=@BASE@%s" % (a, b) for a, b in zip(names, names[1:])]
    return "\n".join(lines + ["reply %s direct" % names[-1]]) + "\n"


PRIMARY_OK = "reply dlm/primary.txt direct\n"
# Broken sites: (what, reply lines, site build's exit and message, the reply
# lines of the same site as site check finds it when built by other means
# (None: as given), site check's exit and the line it must print). @BASE@
# is the site's base URL; a site check message of None: not checked.
BROKEN_SITES = [
    ("a dead second bootstrap URL", PRIMARY_OK, 0, None, None,
     1, "FAIL chain 2 reaches no download directory: @BASE@dlm/alt1.txt is not a reply record (HTTP 404)"),
    ("a dead first bootstrap URL that falls back to a working second",
     "reply dlm/alt1.txt direct\n", 0, None, None,
     1, "FAIL chain 1 reaches no download directory: @BASE@dlm/primary.txt is not a reply record (HTTP 404)"),
    ("a redirect to a page the site does not have",
     PRIMARY_OK + "reply dlm/alt1.txt redirect dlm/gone.txt\n",
     1, "site.conf:8: redirect to dlm/gone.txt, which the site does not have",
     PRIMARY_OK + "reply dlm/alt1.txt record iFlag=1|sUrl=@BASE@dlm/gone.txt\n",
     1, "FAIL chain 2 reaches no download directory: @BASE@dlm/gone.txt is not a reply record (HTTP 404)"),
    ("a page redirecting to itself", PRIMARY_OK + "reply dlm/alt1.txt redirect dlm/alt1.txt\n",
     1, "site.conf:8: redirect loop: dlm/alt1.txt -> dlm/alt1.txt",
     PRIMARY_OK + "reply dlm/alt1.txt record iFlag=1|sUrl=@BASE@dlm/alt1.txt\n",
     1, "FAIL chain 2 reaches no download directory: redirect loop: @BASE@dlm/alt1.txt -> @BASE@dlm/alt1.txt"),
    ("a -> b -> a", PRIMARY_OK + "reply dlm/alt1.txt redirect dlm/b.txt\nreply dlm/b.txt redirect dlm/alt1.txt\n",
     1, "site.conf:8: redirect loop: dlm/alt1.txt -> dlm/b.txt -> dlm/alt1.txt",
     PRIMARY_OK + "reply dlm/alt1.txt record iFlag=1|sUrl=@BASE@dlm/b.txt\n"
     "reply dlm/b.txt record iFlag=1|sUrl=@BASE@dlm/alt1.txt\n",
     1, "FAIL chain 2 reaches no download directory: redirect loop: @BASE@dlm/alt1.txt -> @BASE@dlm/b.txt -> @BASE@dlm/alt1.txt"),
    ("a redirect to a manifest", PRIMARY_OK + "reply dlm/alt1.txt redirect dl/p_Vandel_reg_ENG.ENG\n",
     1, "site.conf:8: redirect to dl/p_Vandel_reg_ENG.ENG, a manifest, not a reply page",
     PRIMARY_OK + "reply dlm/alt1.txt record iFlag=1|sUrl=@BASE@dl/p_Vandel_reg_ENG.ENG\n",
     1, "FAIL chain 2 reaches no download directory: @BASE@dl/p_Vandel_reg_ENG.ENG is not a reply record (HTTP 200)"),
    ("a redirect to an installer", PRIMARY_OK + "reply dlm/alt1.txt redirect dl/p_Vandel_sys_ENG.exe\n",
     1, "site.conf:8: redirect to dl/p_Vandel_sys_ENG.exe, an installer, not a reply page",
     None, 0, None),
    ("a target with a leading slash", "reply dlm/alt1.txt direct\nreply dlm/primary.txt redirect /dlm/alt1.txt\n",
     1, "site.conf:8: redirect target '/dlm/alt1.txt' starts with '/': after base the URL would hold '//'",
     None, 0, None),
    ("21 redirections", "reply dlm/alt1.txt direct\n" + hops("dlm/primary.txt", 21, "redirect"),
     1, "site.conf:8: more than 20 redirections from dlm/primary.txt to dlm/h21.txt; the program follows at most 20",
     "reply dlm/alt1.txt direct\n" + hops("dlm/primary.txt", 21, "record"),
     1, "FAIL chain 1 reaches no download directory: more than 20 redirections; the program follows at most 20"),
    ("20 redirections", "reply dlm/alt1.txt direct\n" + hops("dlm/primary.txt", 20, "redirect"),
     0, None, None, 0, "ok   chain 1 reaches @BASE@dl/"),
    ("an sDlurl without '/'", PRIMARY_OK + "reply dlm/alt1.txt record iFlag=0|sDlurl=@BASE@dl\n",
     1, "site.conf:8: sDlurl '@BASE@dl' does not end with '/': the program would fetch @BASE@dlp_Vandel_reg_CHT.CHT",
     None, 0, None),
    ("a program that asks another site",
     PRIMARY_OK + "reply dlm/alt1.txt direct\nprogram @ELSEWHERE@\ntag AB\n",
     1, "site.conf:9: program @ELSEWHERE@ asks http://127.0.0.1:9/dlm/primary.txt, which is none of "
     "this site's reply pages (@BASE@ + dlm/primary.txt, dlm/alt1.txt)", None, 0, None),
    ("a redirect out of the site to a dead server",
     PRIMARY_OK + "reply dlm/alt1.txt redirect http://127.0.0.1:9/x.txt\n", 0, None, None,
     1, "FAIL chain 2 reaches no download directory: http://127.0.0.1:9/x.txt cannot be opened"),
]


def broken_sites(tool, work):
    """Each broken site of the table through site build and site check."""
    root = os.path.join(work, "broken")
    os.makedirs(root)
    server = Server(root)
    installer = os.path.join(work, "small.exe")
    write(installer, b"MZ a small installer")
    elsewhere = os.path.join(work, "elsewhere.exe")
    write(elsewhere, program_asking(tool, "http://127.0.0.1:9/dlm/primary.txt",
                                    "http://127.0.0.1:9/dlm/alt1.txt"))
    try:
        for number, (what, replies, build_exit, build_line, served, check_exit,
                     check_line) in enumerate(BROKEN_SITES):
            base = "%ss%d/" % (server.base, number)
            conf = os.path.join(work, "site.conf")
            replies = replies.replace("@ELSEWHERE@", elsewhere)
            build_line = build_line and build_line.replace("@ELSEWHERE@", elsewhere)
            write(conf, config_text(base, installer, replies.replace("@BASE@", base)).encode())
            proc = tool.run("site", "build", conf, os.path.join(root, "s%d" % number))
            err = proc.stderr.decode()
            check(proc.returncode == build_exit and (build_line is None or err.startswith(
                "dlmtool site build: %s:%s" % (conf, build_line[len("site.conf:"):].replace(
                    "@BASE@", base)))),
                "site build of %s exits %d" % (what, build_exit), err)
            if check_line is None:
                continue
            if served is not None:
                write(conf, config_text(base, installer, served.replace("@BASE@", base)).encode())
                tool.run("site", "build", conf, os.path.join(root, "s%d" % number))
            proc = tool.run("site", "check", base + "dlm/primary.txt", base + "dlm/alt1.txt")
            out = lines_of(proc)
            # The last line is the verdict, FAIL whenever the exit code is 1.
            check(proc.returncode == check_exit and check_line.replace("@BASE@", base) in out
                  and out[-1].startswith("verdict: FAIL " if check_exit else "verdict: ok "),
                  "site check of %s exits %d" % (what, check_exit), proc.stdout.decode()[-900:])
        json_reports(tool, server.base + "s0/")
    finally:
        server.stop()


def json_reports(tool, base):
    """--json tells what the text tells, one object per chain and package."""
    text = tool.run("site", "check", base + "dlm/primary.txt", base + "dlm/alt1.txt")
    proc = tool.run("site", "check", base + "dlm/primary.txt", base + "dlm/alt1.txt", "--json")
    try:
        report = json.loads(proc.stdout.decode())
    except ValueError as error:
        check(False, "site check --json writes JSON", str(error) + proc.stdout.decode()[:400])
        return
    packages = report["directories"][0]["packages"]
    check(proc.returncode == text.returncode == 1 and report["verdict"] == "fail"
          and [c["verdict"] for c in report["chains"]] == ["ok", "fail"]
          and report["chains"][1]["fetches"][0]["status"] == 404
          and len(packages) == 22 and all(p["verdict"] == "ok" and p["size"] == 20 for p in packages)
          and sum(1 for l in lines_of(text) if l.startswith("ok   p_Vandel_")) == 22
          and report["warnings"] == ["%sdlm/%s.txt is plain http: its reply can be replaced on "
                                     "the way" % (base, page) for page in ("primary", "alt1")]
          + ["%sdl/ is plain http: the manifests and installers can be replaced on the way" % base],
          "site check --json", proc.stdout.decode()[:900])
