"""Writes the API reference's page on the Python module `tarsel`.

    python3 docs/python_page.py STUB OUTPUT [PACKAGE_PARENT]

STUB is the module's type stub (python/tarsel/__init__.pyi): every class,
method, function and constant with its signature and docstring. When the
built package can be imported from PACKAGE_PARENT, its own docstrings fill in
what the stub leaves without one, and any public name the stub lacks is
listed too, so the page follows the module as built.
"""

import ast
import importlib
import re
import sys

# A section comment of the stub: "# --- Result codes ------".
SECTION = re.compile(r"^# --- (.*?) -*$")


def signature(node: ast.FunctionDef) -> str:
    """`name(arguments) -> result`, as the stub writes them, without self."""
    args = node.args
    parts = []
    positional = args.posonlyargs + args.args
    defaults = [None] * (len(positional) - len(args.defaults)) + list(args.defaults)
    for arg, default in zip(positional, defaults):
        if arg.arg in ("self", "cls"):
            continue
        text = arg.arg + (": " + ast.unparse(arg.annotation) if arg.annotation else "")
        if default is not None:
            text += " = " + ast.unparse(default)
        parts.append(text)
    if args.vararg:
        parts.append("*" + args.vararg.arg)
    elif args.kwonlyargs:
        parts.append("*")
    for arg, default in zip(args.kwonlyargs, args.kw_defaults):
        text = arg.arg + (": " + ast.unparse(arg.annotation) if arg.annotation else "")
        if default is not None:
            text += " = " + ast.unparse(default)
        parts.append(text)
    if args.kwarg:
        parts.append("**" + args.kwarg.arg)
    result = " -> " + ast.unparse(node.returns) if node.returns else ""
    return f"{node.name}({', '.join(parts)}){result}"


def code(text: str) -> str:
    """text as inline code. Double backticks, so that the quotes of a default
    such as '' cannot end the span early, and spaces inside, so that a
    backtick at either end is still code."""
    return f"`` {text} ``"


def is_property(node: ast.FunctionDef) -> bool:
    return any(ast.unparse(d) == "property" for d in node.decorator_list)


def one_paragraph(text: str) -> str:
    """A docstring on one line, for a list entry, with the characters Doxygen
    would take for markup escaped."""
    text = " ".join((text or "").split())
    for plain, escaped in (("\\", "\\\\"), ("&", "&amp;"), ("<", "&lt;"), (">", "&gt;"),
                           ("@", "\\@"), ("#", "\\#")):
        text = text.replace(plain, escaped)
    return text


def runtime_doc(module, path):
    """The docstring of module.path[0].path[1]..., "" when there is none."""
    target = module
    for name in path:
        target = getattr(target, name, None)
        if target is None:
            return ""
    doc = getattr(target, "__doc__", "") or ""
    # pybind11 puts the signature first: "name(self: ...) -> type", a blank line.
    first, _, rest = doc.partition("\n")
    if path and first.startswith(path[-1] + "("):
        doc = rest
    return one_paragraph(doc)


def main() -> int:
    stub_path, output = sys.argv[1], sys.argv[2]
    module = None
    if len(sys.argv) > 3:
        sys.path.insert(0, sys.argv[3])
        try:
            module = importlib.import_module("tarsel")
        except Exception:  # an unbuilt or unloadable package: the stub alone
            module = None

    source = open(stub_path, encoding="utf-8").read()
    tree = ast.parse(source)
    # Constants under the stub's section comment above them, each with the
    # comment on its own line (its number and meaning). A comment line right
    # under a section's says what its constants are, in place of the C names.
    named = {node.lineno: node.target.id for node in tree.body
             if isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name)
             and not node.target.id.startswith("_")}
    constants, intros, functions, classes = {}, {}, [], []
    section, opened = "Constants", 0
    for number, line in enumerate(source.splitlines(), start=1):
        match = SECTION.match(line)
        if match:
            section, opened = match.group(1), number
        elif number == opened + 1 and line.startswith("# "):
            intros[section] = line[2:].strip()
        elif number in named:
            constants.setdefault(section, []).append((named[number], line.partition("#")[2].strip()))
    for node in tree.body:
        if isinstance(node, ast.FunctionDef) and not node.name.startswith("_"):
            functions.append(node)
        elif isinstance(node, ast.ClassDef) and not node.name.startswith("_"):
            classes.append(node)

    # Members of each stub class, with those of the stub classes it derives from.
    members = {}
    for node in tree.body:
        if isinstance(node, ast.ClassDef):
            own = {item.name for item in node.body if isinstance(item, ast.FunctionDef)}
            own |= {item.target.id for item in node.body
                    if isinstance(item, ast.AnnAssign) and isinstance(item.target, ast.Name)}
            for base in node.bases:
                own |= members.get(ast.unparse(base), set())
            members[node.name] = own

    def doc_of(node, path):
        return one_paragraph(ast.get_docstring(node) or "") or (
            runtime_doc(module, path) if module else "")

    lines = [
        "# Python module tarsel {#python}",
        "",
        "The package `tarsel` gives every function of the API as a method of "
        "`tarsel.Arm` under its snake-case name; records are classes with the C++ "
        "field names in snake case, and a result code other than 1 raises "
        "`tarsel.Error`. This page is generated from the module's type stub"
        + (" and docstrings." if module else ".")
        + " The C++ functions behind the methods, with their result codes, are in "
        "the headers' pages.",
        "",
    ]
    if functions:
        lines += ["## Functions", ""]
        for node in functions:
            lines.append(f"- {code(signature(node))} — {doc_of(node, [node.name])}")
        lines.append("")
    for node in classes:
        lines += [f"## {node.name}", "", doc_of(node, [node.name]), ""]
        fields = [item.target.id for item in node.body
                  if isinstance(item, ast.AnnAssign) and isinstance(item.target, ast.Name)]
        if fields:
            lines += ["Fields: " + ", ".join(code(name) for name in fields) + ".", ""]
        properties = [item for item in node.body
                      if isinstance(item, ast.FunctionDef) and is_property(item)]
        if properties:
            lines += ["Read-only properties:", ""]
            for item in properties:
                doc = doc_of(item, [node.name, item.name])
                result = ": " + ast.unparse(item.returns) if item.returns else ""
                lines.append(f"- {code(item.name + result)}" + (f" — {doc}" if doc else ""))
            lines.append("")
        methods = [item for item in node.body if isinstance(item, ast.FunctionDef)
                   and not is_property(item)
                   and (not item.name.startswith("_") or item.name in ("__init__", "__enter__"))]
        if properties and methods:
            lines += ["Methods:", ""]
        for item in methods:
            doc = doc_of(item, [node.name, item.name])
            lines.append(f"- {code(signature(item))}" + (f" — {doc}" if doc else ""))
        if module is not None:
            # What the built class has beyond the stub, leaving out what every
            # object or exception has.
            base = BaseException if isinstance(getattr(module, node.name, None), type) and \
                issubclass(getattr(module, node.name), BaseException) else object
            known = members.get(node.name, set())
            extra = sorted(name for name in dir(getattr(module, node.name, object))
                           if not name.startswith("_") and name not in known
                           and not hasattr(base, name))
            for name in extra:
                lines.append(f"- {code(name)} — {runtime_doc(module, [node.name, name])}")
        lines.append("")
    for section, named in constants.items():
        lines += [f"## {one_paragraph(section)}", ""]
        if section == "Result codes":
            lines += ["Constants of the module, one per result code of the C++ API: "
                      + ", ".join(code(name) for name, _ in named) + ".", ""]
            continue
        intro = one_paragraph(intros[section]) if section in intros else \
            f"Constants of the module (ints), under the C names without {code('TARSEL_')}"
        lines += [intro + ":", ""]
        lines += [f"- {code(name)}" + (f" — {one_paragraph(note)}" if note else "")
                  for name, note in named]
        lines.append("")

    with open(output, "w", encoding="utf-8") as out:
        out.write("\n".join(lines))
    return 0


if __name__ == "__main__":
    sys.exit(main())
