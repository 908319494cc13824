#!/usr/bin/python3
"""Fails when a source file includes a module placed above its own.

The layers, lowest first, as the design lays them out: each module may include itself and the
modules listed for it, nothing else. The plain modules (common without its ui half, archive, rpc,
journal, package and the server) build without a display, so they include neither common/ui nor Qt.
"""
import pathlib
import re
import sys

MAY_INCLUDE = {
    "common": {"common"},
    "archive": {"common"},
    "rpc": {"common"},
    "journal": {"common"},
    "package": {"common", "archive"},
    "report": {"common"},
    "receipt": {"common", "report"},
    # The transfer window hosts receipts printed while it lives (the receipt's window hooks).
    "transfer": {"common", "archive", "package", "rpc", "receipt", "journal"},
    "interface": {"common", "archive", "package", "rpc", "report", "receipt", "transfer",
                  "journal"},
    "server": {"common", "archive", "package", "rpc"},
}
PLAIN = {"archive", "rpc", "journal", "package", "server"}

LOCAL_INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/([^"]+)"', re.M)
QT_INCLUDE = re.compile(r"^\s*#\s*include\s+<Q", re.M)


def module_of(root: pathlib.Path, path: pathlib.Path) -> str:
    parts = path.relative_to(root).parts
    return parts[0] if parts[0] == "server" else parts[1]


def check(root: pathlib.Path) -> list[str]:
    faults = []
    sources = [p for d in ("src", "server") for p in (root / d).rglob("*")
               if p.suffix in (".h", ".cpp")]
    for path in sorted(sources):
        module = module_of(root, path)
        allowed = MAY_INCLUDE[module] | {module}
        in_common_ui = path.relative_to(root).parts[:3] == ("src", "common", "ui")
        plain = module in PLAIN or (module == "common" and not in_common_ui)
        text = path.read_text(encoding="utf-8")
        for match in LOCAL_INCLUDE.finditer(text):
            target, rest = match.group(1), match.group(2)
            where = f"{path.relative_to(root)}: includes {target}/{rest}"
            if target not in MAY_INCLUDE:
                continue  # generated or third-party headers
            if target not in allowed:
                faults.append(f"{where}, above {module}")
            elif plain and target == "common" and rest.startswith("ui/"):
                faults.append(f"{where}, the Qt half of common")
        if plain and QT_INCLUDE.search(text):
            faults.append(f"{path.relative_to(root)}: includes Qt in a plain module")
    return faults


def main() -> int:
    root = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else pathlib.Path(__file__).parents[2]
    faults = check(root)
    for fault in faults:
        print(fault)
    if not faults:
        print("every include points down")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
