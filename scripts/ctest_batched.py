#!/usr/bin/env python3
"""Runs a build's ctest tests with each GoogleTest program started once.

ctest starts a test program once per test case. Where starting a program is
the cost (32-bit Wine under qemu-user: a second or more per start, against
milliseconds for the tests themselves), this runs each program once with all
of its cases and reports every case on its own, in ctest's words, so that the
test command counts and names them as it does a ctest run. Tests that are not
GoogleTest cases (scripts) run as ctest would run them. Fixtures, resource
locks, environments, working folders, timeouts and skip codes are those ctest
has for each test.

When a program ends before reporting all its cases, the case it was running
failed (it is never counted as passed), and the program starts again for the
rest. The one exception is a program that qemu-user itself ended ("qemu:
uncaught target signal"): that case is not run, counted as skipped and named
with the reason, as are the tests whose fixture was skipped.

Usage: ctest_batched.py --test-dir DIR [-j N] [--rerun-failed] [other ctest
options, ignored]
"""
import argparse
import fnmatch
import json
import os
import re
import signal
import subprocess
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

FILTER = "--gtest_filter="
RESULT = re.compile(r"^\[ +(OK|FAILED|SKIPPED) +\] (\S+)(?: \(\d+ ms\))?\s*$")
RUN = re.compile(r"^\[ RUN +\] (\S+)\s*$")


def properties(test):
    return {p["name"]: p["value"] for p in test.get("properties", [])}


def load_tests(test_dir):
    listing = subprocess.run(["ctest", "--test-dir", test_dir, "--show-only=json-v1"],
                             capture_output=True, text=True)
    if listing.returncode != 0:
        sys.stderr.write(listing.stdout + listing.stderr)
        raise SystemExit("ctest_batched: ctest could not list the tests of " + test_dir)
    tests = json.loads(listing.stdout)["tests"]
    for number, test in enumerate(tests, 1):
        test["number"] = number
        test["props"] = properties(test)
    return tests


class Report:
    """Prints each result as ctest does and keeps the totals."""

    def __init__(self, total):
        self.total = total
        self.done = 0
        self.failed = []
        self.skipped = []
        self.reasons = {}
        self.lock = threading.Lock()

    def result(self, test, verdict, seconds, output=""):
        with self.lock:
            self.done += 1
            label = {"passed": "   Passed", "skipped": "***Skipped", "failed": "***Failed"}[verdict]
            head = f"{self.done:3d}/{self.total} Test #{test['number']}: {test['name']} "
            print(f"{head:.<60}{label}  {seconds:6.2f} sec", flush=True)
            if verdict == "failed":
                self.failed.append(test)
                if output:
                    print(output.rstrip("\n"), flush=True)
            elif verdict == "skipped":
                self.skipped.append(test)
                if output:
                    reason = output.strip().splitlines()[-1]
                    print(f"    {reason}", flush=True)
                    self.reasons.setdefault(reason, []).append(test["name"])

    def close(self, test_dir, seconds):
        failed = len(self.failed)
        share = 100 if self.total == 0 else (self.total - failed) * 100 // self.total
        print(f"\n{share}% tests passed, {failed} tests failed out of {self.total}\n")
        print(f"Total Test time (real) = {seconds:8.2f} sec")
        for reason, names in self.reasons.items():
            print(f"\nnot run ({len(names)}): {reason}")
        if self.skipped:
            print("\nThe following tests did not run:")
            for test in sorted(self.skipped, key=lambda t: t["number"]):
                print(f"\t{test['number']:3d} - {test['name']} (Skipped)")
        if self.failed:
            print("\nThe following tests FAILED:")
            for test in sorted(self.failed, key=lambda t: t["number"]):
                print(f"\t{test['number']:3d} - {test['name']} (Failed)")
        # The file ctest --rerun-failed reads, so that a second run of this
        # script (or of ctest) takes only these.
        temporary = os.path.join(test_dir, "Testing", "Temporary")
        os.makedirs(temporary, exist_ok=True)
        with open(os.path.join(temporary, "LastTestsFailed.log"), "w") as out:
            for test in sorted(self.failed, key=lambda t: t["number"]):
                out.write(f"{test['number']}:{test['name']}\n")


def environment(test):
    env = dict(os.environ)
    for item in test["props"].get("ENVIRONMENT", []):
        name, _, value = item.partition("=")
        env[name] = value
    return env


def run(command, test, timeout):
    """Runs a command as ctest would run the test; returns (exit code or
    None on timeout, output, seconds). On a timeout the command's whole
    process group is ended, Wine's programs with it."""
    start = time.monotonic()
    process = subprocess.Popen(command, cwd=test["props"].get("WORKING_DIRECTORY"),
                               env=environment(test), stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                               start_new_session=True)
    try:
        output, _ = process.communicate(timeout=timeout)
        code = process.returncode
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        output, _ = process.communicate()
        output += f"\n(timed out after {timeout} s)".encode()
        code = None
    return code, output.decode(errors="replace"), time.monotonic() - start


def run_single(test, report):
    """Runs a test that is not a GoogleTest case; returns its verdict and
    its output's last line."""
    props = test["props"]
    if props.get("DISABLED"):
        report.result(test, "skipped", 0.0)
        return "skipped", "disabled"
    code, output, seconds = run(test["command"], test, props.get("TIMEOUT", 1500))
    last = (output.strip().splitlines() or [""])[-1]
    if code is not None and props.get("SKIP_RETURN_CODE") == code:
        report.result(test, "skipped", seconds, last)
        return "skipped", last
    passed = code is not None and ((code == 0) != bool(props.get("WILL_FAIL")))
    report.result(test, "passed" if passed else "failed", seconds, output)
    return ("passed" if passed else "failed"), last


def case_name(test):
    for argument in test["command"]:
        if argument.startswith(FILTER):
            return argument[len(FILTER):]
    return None


def matches(case, name):
    """Whether a reported case is one a test names: the test's filter is the
    case's name, or a pattern of them (gtest_add_tests names each
    parameterized test by one)."""
    return case == name or fnmatch.fnmatchcase(case, name)


def parse_cases(output, names):
    """The verdict of each of the named tests that the output reports (a
    pattern's: failed when any of its cases failed, skipped when all were),
    each one's lines (from its cases' RUN lines to their results), and the
    test whose case was running when the output ends, if any."""
    verdicts, blocks, current = {}, {}, None
    for line in output.splitlines():
        started = RUN.match(line)
        if started:
            current = started.group(1)
            blocks[current] = []
        if current:
            blocks[current].append(line)
        ended = RESULT.match(line)
        if ended and ended.group(2) not in verdicts:
            verdicts[ended.group(2)] = ended.group(1)
            current = None
    results, lines = {}, {}
    for name in names:
        cases = [c for c in verdicts if matches(c, name)]
        if not cases:
            continue
        found = {verdicts[c] for c in cases}
        results[name] = "FAILED" if "FAILED" in found else "OK" if "OK" in found else "SKIPPED"
        lines[name] = [l for c in cases if verdicts[c] == "FAILED" for l in blocks.get(c, [])]
    running = next((n for n in names if current and matches(current, n)), None)
    if running:
        lines[running] = lines.get(running, []) + blocks.get(current, [])
        results.pop(running, None)
    return results, lines, running


MAX_STARTS = 12


def run_program(tests, report):
    """Starts a GoogleTest program once for all the given cases of it. When
    it ends before reporting them all, the case it was running is charged
    with that (failed; not run when qemu-user itself ended it) and the
    program starts again for the cases after it, up to MAX_STARTS times."""
    for test in tests:
        if test["props"].get("DISABLED"):
            report.result(test, "skipped", 0.0)
    left = {case_name(t): t for t in tests if not t["props"].get("DISABLED")}
    starts = 0
    while left:
        starts += 1
        first = next(iter(left.values()))
        command = [a for a in first["command"] if not a.startswith(FILTER)]
        command.append(FILTER + ":".join(left))
        timeout = min(sum(t["props"].get("TIMEOUT", 120) for t in left.values()), 3600)
        code, output, seconds = run(command, first, timeout)
        results, blocks, running = parse_cases(output, left)
        share = seconds / max(len(results) + (running is not None), 1)
        for name, verdict in results.items():
            test = left.pop(name)
            if verdict == "OK":
                report.result(test, "passed", share)
            elif verdict == "SKIPPED":
                report.result(test, "skipped", share)
            else:
                report.result(test, "failed", share, "\n".join(blocks.get(name, [])))
        if not left:
            break
        program = next((os.path.basename(a) for a in command if a.lower().endswith(".exe")),
                       os.path.basename(command[0]))
        how = "timed out" if code is None else f"ended with exit code {code}"
        emulator = next((line.strip() for line in output.splitlines()
                         if line.startswith("qemu: uncaught target signal")), None)
        last_lines = "\n".join(output.splitlines()[-40:])
        # The case that was running, or, when none was, every case left.
        charged = [running] if running and starts < MAX_STARTS else list(left)
        for name in charged:
            test = left.pop(name)
            if emulator:
                report.result(test, "skipped", share,
                              f"not run: qemu-user ended {program} ({emulator}) in this case")
            else:
                report.result(test, "failed", share,
                              "\n".join(blocks.get(name, [])) +
                              f"\n{program} {how} in this case or before it reached it; its last lines:\n"
                              + last_lines)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--test-dir", required=True)
    parser.add_argument("-j", "--parallel", type=int,
                        default=int(os.environ.get("CTEST_PARALLEL_LEVEL", "2") or 2))
    parser.add_argument("--rerun-failed", action="store_true")
    options, _ = parser.parse_known_args()
    start = time.monotonic()
    tests = load_tests(options.test_dir)
    if options.rerun_failed:
        path = os.path.join(options.test_dir, "Testing", "Temporary", "LastTestsFailed.log")
        wanted = set()
        if os.path.exists(path):
            wanted = {line.strip().split(":", 1)[1] for line in open(path) if ":" in line}
        setup_for = {f for t in tests if t["name"] in wanted
                     for f in t["props"].get("FIXTURES_REQUIRED", [])}
        tests = [t for t in tests if t["name"] in wanted
                 or set(t["props"].get("FIXTURES_SETUP", []) + t["props"].get("FIXTURES_CLEANUP", [])) & setup_for]
    report = Report(len(tests))

    setups = [t for t in tests if t["props"].get("FIXTURES_SETUP")]
    cleanups = [t for t in tests if t["props"].get("FIXTURES_CLEANUP")]
    fixtures_up, fixtures_skipped = set(), {}
    for test in setups:
        verdict, last = run_single(test, report)
        for fixture in test["props"]["FIXTURES_SETUP"]:
            if verdict == "passed":
                fixtures_up.add(fixture)
            elif verdict == "skipped":
                fixtures_skipped[fixture] = last

    # The rest in jobs: one per GoogleTest program (same command but for the
    # filter, same environment and folder), one per other test.
    jobs, programs = [], {}
    for test in tests:
        if test in setups or test in cleanups:
            continue
        missing = set(test["props"].get("FIXTURES_REQUIRED", [])) - fixtures_up
        skipped = sorted(missing & set(fixtures_skipped))
        if skipped:
            report.result(test, "skipped", 0.0, fixtures_skipped[skipped[0]])
            continue
        if missing:
            report.result(test, "failed", 0.0, f"not run: its fixture {', '.join(sorted(missing))} did not start")
            continue
        if case_name(test) is not None:
            key = json.dumps([[a for a in test["command"] if not a.startswith(FILTER)],
                              test["props"].get("ENVIRONMENT", []),
                              test["props"].get("WORKING_DIRECTORY"),
                              sorted(test["props"].get("RESOURCE_LOCK", []))])
            if key not in programs:
                programs[key] = []
                jobs.append(("program", programs[key]))
            programs[key].append(test)
        else:
            jobs.append(("single", test))

    # ctest's RESOURCE_LOCK: the jobs that share one run one after the
    # other, as one chain, started first (the Wine window tests, the
    # longest); the rest fill the other workers.
    chains, free_jobs = {}, []
    for job in jobs:
        kind, what = job
        first = what[0] if kind == "program" else what
        lock = tuple(sorted(set(first["props"].get("RESOURCE_LOCK", []))))
        if lock:
            chains.setdefault(lock, []).append(job)
        else:
            free_jobs.append(job)

    def work(chain):
        for kind, what in chain:
            if kind == "program":
                run_program(what, report)
            else:
                run_single(what, report)

    with ThreadPoolExecutor(max_workers=max(options.parallel, 1)) as pool:
        units = list(chains.values()) + [[job] for job in free_jobs]
        for outcome in [pool.submit(work, unit) for unit in units]:
            outcome.result()
    for test in cleanups:
        run_single(test, report)
    report.close(options.test_dir, time.monotonic() - start)
    return 1 if report.failed else 0


if __name__ == "__main__":
    sys.exit(main())
