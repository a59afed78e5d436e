#!/usr/bin/env python3
"""ARCHITECTURE.md holds to the tree: its table of the seam names every function
that platform/*.hpp declares, in the row of its header, and nothing the headers do
not declare; each considered change of behaviour names a test, and every test it
names (Suite.Case, a ctest name) is one the tests define."""
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
tests_text = '\n'.join(p.read_text(errors='replace') for p in (root / 'tests').rglob('*') if p.is_file())
changes = (root / 'ARCHITECTURE.md').read_text().partition('## Considered changes of behaviour')[2]
for item in re.split(r'\n(?=\d+\. )', changes)[1:]:
    tests_named = re.findall(r'`((?:\w+[./])+[A-Z]\w+)`', item.replace('\n', ' '))
    if not tests_named and not re.search(r'`(?:scripts|tests)/[\w/.-]+`', item):
        problems.append(f'change {item.split(".")[0]} names no test')
    problems += [f'change {item.split(".")[0]}: no test defines `{n}`' for n in tests_named
                 if not re.search(rf'\b(?:test)?{re.split("[./]", n)[-1]}\b', tests_text)]
print('\n'.join(problems) or 'ok')
sys.exit(1 if problems else 0)
