#!/usr/bin/env python3
"""ARCHITECTURE.md's table of the seam names every function that platform/*.hpp
declares, in the row of its header, and nothing the headers do not declare."""
import pathlib, re, sys

root = pathlib.Path(sys.argv[1])
KEYWORDS = {'if', 'for', 'while', 'switch', 'return', 'sizeof', 'static_assert', 'decltype', 'noexcept',
            'operator', 'alignof', 'defined'}


def declared(header):
    text = re.sub(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\])*"', '', header.read_text(), flags=re.S)
    classes = set(re.findall(r'\b(?:class|struct)\s+(\w+)', text))
    # A name that opens a parameter list after a type, at the start of a declaration.
    names = re.findall(r'(?:^|[;{}]|public:|private:|protected:)\s*(?:template\s*<[^;{}]*?>\s*)?'
                       r'(?:(?:virtual|static|inline|constexpr|consteval|explicit|friend)\s+)*'
                       r'[\w:<>,&*\s]*?[\s&*>](\w+)\s*\(', text, flags=re.M)
    return {n for n in names if n not in KEYWORDS and n not in classes and not n.endswith('_')}


rows = {}
for line in (root / 'ARCHITECTURE.md').read_text().splitlines():
    if m := re.match(r'\| `(\w+\.hpp)` \|[^|]*\|(.*)\|$', line):
        rows[m[1]] = {re.sub(r'^\w+::', '', n) for n in re.findall(r'`([\w:]+)(?:\([^`]*\))?`', m[2])}
problems = []
for header in sorted((root / 'platform').glob('*.hpp')):
    functions = declared(header)
    if not functions:
        continue
    named = rows.get(header.name)
    if named is None:
        problems.append(f'{header.name}: no row in the seam table')
        continue
    problems += [f'{header.name}: `{n}` is declared but not in its row' for n in sorted(functions - named)]
    problems += [f'{header.name}: `{n}` is in its row but not declared' for n in sorted(named - functions)
                 if n[0].islower()]
print('\n'.join(problems) or 'ok')
sys.exit(1 if problems else 0)
