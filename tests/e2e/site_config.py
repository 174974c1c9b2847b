"""Writes configs for `dlmtool site build` (format: docs/site-config.md) for
the chains the end-to-end scenarios need."""

BASE = "http://127.0.0.1:47800/"
# The same site under the host name of the program's second bootstrap URL.
MIRROR = "http://localhost:47800/"
PRIMARY = "dlm/primary.txt"
ALTERNATE = "dlm/alt1.txt"


def chain_lines(path, kind, hop_name):
    """Reply lines that make the bootstrap reply at path behave as kind:
    None (no file: the server answers 404), "direct", "garbage" (a page that
    is not a reply record), "redirect N" (N further replies, the last one
    direct) or "loop" (the reply points back at itself)."""
    if kind is None:
        return []
    if kind == "direct":
        return ["reply %s direct" % path]
    if kind == "garbage":
        return ["reply %s plain <html><body>Service unavailable</body></html>" % path]
    if kind == "loop":
        # site build refuses a redirect loop; a raw record makes one.
        return ["reply %s record iFlag=1|sUrl=%s%s" % (path, BASE, path)]
    if kind.startswith("redirect "):
        hops = int(kind.split()[1])
        names = [path] + ["dlm/%s%d.txt" % (hop_name, i) for i in range(1, hops + 1)]
        lines = ["reply %s redirect %s" % (a, b) for a, b in zip(names, names[1:])]
        return lines + ["reply %s direct" % names[-1]]
    raise ValueError("unknown chain kind " + kind)


def render(installer, news, primary="direct", alternate=None, directory="dl/", extra=(),
           base=BASE):
    lines = ["# Written by the end-to-end suite.",
             "base " + base,
             "directory " + directory,
             "installer " + installer]
    lines += ["news " + line for line in news]
    lines += chain_lines(PRIMARY, primary, "hop")
    lines += chain_lines(ALTERNATE, alternate, "althop")
    lines += list(extra)
    return "\n".join(lines) + "\n"
