#!/usr/bin/env python3
"""Runs tests of a CTest build tree under valgrind's memcheck.

    tests/valgrind.py BUILD_DIR [TEST ...]

Each named test runs with the command and environment CTest gives it (with
no test named: every test whose program was built in BUILD_DIR, which leaves
out the compiler, cmake and Python runs), under memcheck with every leak kind that points
at lost memory counted as an error: definitely, indirectly and possibly lost.
Memory still reachable at exit (the C++ runtime's pools, libusb's and the
loader's caches) is not a leak; valgrind.supp beside this script lists the
few blocks memcheck cannot prove reachable that are not lost either. Programs a test starts run without valgrind.
Prints one line per test and exits non-zero when any test failed or valgrind
found anything; valgrind's report of a failing test goes to standard error.
"""
import json
import os
import subprocess
import sys
import time

# Test cases that cannot pass under valgrind for valgrind's own reasons.
# Under valgrind, spawning a program that does not exist gives a child that
# exits with 127 instead of a failed spawn (valgrind runs the spawn's exec in
# the child).
SKIPPED_CASES = {
    "commlayer": ["CommLayer.ChildProgramReachesTheArmOfItsParent"],
}

SUPPRESSIONS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "valgrind.supp")
VALGRIND = [
    "valgrind", "--quiet", "--error-exitcode=99", "--leak-check=full",
    "--suppressions=" + SUPPRESSIONS,
    "--show-leak-kinds=definite,indirect,possible",
    "--errors-for-leak-kinds=definite,indirect,possible",
    "--num-callers=30",
]


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build, wanted = sys.argv[1], set(sys.argv[2:])
    listing = subprocess.run(["ctest", "--test-dir", build, "--show-only=json-v1"],
                             capture_output=True, text=True, check=True)
    root = os.path.realpath(build) + os.sep
    tests = [t for t in json.loads(listing.stdout)["tests"]
             if t["name"] in wanted
             or (not wanted and os.path.realpath(t["command"][0]).startswith(root))]
    missing = wanted - {t["name"] for t in tests}
    if missing:
        sys.exit("no such test: " + ", ".join(sorted(missing)))
    failed = []
    for test in tests:
        env = dict(os.environ)
        cwd = build
        for prop in test.get("properties", []):
            if prop["name"] == "ENVIRONMENT":
                for item in prop["value"]:
                    key, _, value = item.partition("=")
                    env[key] = value
            elif prop["name"] == "WORKING_DIRECTORY":
                cwd = prop["value"]
        start = time.monotonic()
        command = list(test["command"])
        if test["name"] in SKIPPED_CASES:
            command.append("--gtest_filter=-" + ":".join(SKIPPED_CASES[test["name"]]))
        run = subprocess.run(VALGRIND + command, env=env, cwd=cwd,
                             capture_output=True, text=True)
        seconds = time.monotonic() - start
        verdict = "clean" if run.returncode == 0 else (
            "memcheck errors" if run.returncode == 99 else f"failed ({run.returncode})")
        print(f"{test['name']:<24} {verdict:<16} {seconds:6.1f} s", flush=True)
        if run.returncode != 0:
            failed.append(test["name"])
            sys.stderr.write(run.stdout[-20000:] + run.stderr[-20000:])
    print(f"{len(tests) - len(failed)} passed, {len(failed)} failed")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
