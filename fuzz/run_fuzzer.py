#!/usr/bin/env python3
"""Runs a libFuzzer harness for a bounded time over a fresh corpus seeded by its seed tool.

    run_fuzzer.py --fuzzer PATH --seeds-tool PATH --work DIR [--seconds N] [--jobs N]

Fails (exit status 1) on any finding; crash inputs are kept in DIR/artifacts. The corpus
in DIR/corpus grows across runs."""
import argparse
import os
import subprocess
import sys


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--fuzzer", required=True)
    ap.add_argument("--seeds-tool", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--seconds", type=int, default=60)
    ap.add_argument("--jobs", type=int, default=1)
    args = ap.parse_args()
    args.fuzzer = os.path.abspath(args.fuzzer)
    args.seeds_tool = os.path.abspath(args.seeds_tool)
    seeds = os.path.join(args.work, "seeds")
    corpus = os.path.join(args.work, "corpus")
    artifacts = os.path.join(args.work, "artifacts") + os.sep
    for d in (seeds, corpus, artifacts):
        os.makedirs(d, exist_ok=True)
    subprocess.run([args.seeds_tool, seeds], check=True)
    command = [args.fuzzer, corpus, seeds, f"-max_total_time={args.seconds}", "-timeout=20",
               "-rss_limit_mb=2560", "-max_len=65536", f"-artifact_prefix={artifacts}", "-print_final_stats=1"]
    if args.jobs > 1:
        command += [f"-jobs={args.jobs}", f"-workers={args.jobs}"]
    print(" ".join(command), flush=True)
    rc = subprocess.run(command, cwd=args.work).returncode
    if rc != 0:
        print(f"the fuzzer found a fault (exit status {rc}); inputs in {artifacts}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
