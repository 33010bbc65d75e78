#!/usr/bin/env python3
"""The host on a small image against the host printing --version.

Process start to exit, the two interleaved round by round so that drift in
the machine's load falls on both alike; medians over the rounds. The job runs
twice a round: once to an output that does not exist (removed, untimed,
before the run) and once replacing the output of the previous round, which
also pays the file system for freeing the old file. What freeing alone costs
here is measured too: removing a file of the same size once it is on disk.

Usage: small_image.py HOST INPUT SCRATCH_DIR [ROUNDS] [STARS]
"""
import os
import statistics
import sys
import time

WARMUP_ROUNDS = 20
FREEING_RUNS = 50


def main():
    if len(sys.argv) < 4:
        sys.exit(__doc__)
    host, image, scratch = sys.argv[1], sys.argv[2], sys.argv[3]
    rounds = int(sys.argv[4]) if len(sys.argv) > 4 else 300
    stars = sys.argv[5] if len(sys.argv) > 5 else "50"
    new_output = os.path.join(scratch, "small-new.bmp")
    replaced_output = os.path.join(scratch, "small-replaced.bmp")
    freed_file = os.path.join(scratch, "small-freed.bin")
    null = os.open(os.devnull, os.O_WRONLY)
    output_bytes = os.path.getsize(image)

    def run(arguments):
        start = time.perf_counter_ns()
        pid = os.posix_spawn(host, [host] + arguments, os.environ,
                             file_actions=[(os.POSIX_SPAWN_DUP2, null, 1)])
        _, status = os.waitpid(pid, 0)
        elapsed = (time.perf_counter_ns() - start) / 1e6
        if os.waitstatus_to_exitcode(status) != 0:
            sys.exit(f"small_image.py: {host} {' '.join(arguments)} failed")
        return elapsed

    def remove(path):
        try:
            os.unlink(path)
        except FileNotFoundError:
            pass

    def remove_written_file():
        descriptor = os.open(freed_file, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
        os.write(descriptor, bytes(output_bytes))
        os.fsync(descriptor)
        os.close(descriptor)
        start = time.perf_counter_ns()
        os.unlink(freed_file)
        return (time.perf_counter_ns() - start) / 1e6

    times = {"version": [], "new": [], "replacing": [], "freeing": []}
    job = ["--seed", "1", image]
    for round_number in range(WARMUP_ROUNDS + rounds):
        version = run(["--version"])
        remove(new_output)
        new = run(job + [new_output, stars])
        replacing = run(job + [replaced_output, stars])
        if round_number >= WARMUP_ROUNDS:
            for key, value in (("version", version), ("new", new), ("replacing", replacing)):
                times[key].append(value)
    for path in (new_output, replaced_output):
        remove(path)
    # Apart from the rounds: the disk writes it forces would slow them.
    times["freeing"] = [remove_written_file() for _ in range(FREEING_RUNS)]

    median = {key: statistics.median(values) for key, values in times.items()}
    print(f"--version {median['version']:.2f} ms; {stars} stars to a new output "
          f"{median['new']:.2f} ms, replacing an output {median['replacing']:.2f} ms "
          f"(medians of {rounds} interleaved rounds); removing a file of that size "
          f"from the disk {median['freeing']:.2f} ms")
    print(f"small image, new output: stars / --version = "
          f"{median['new'] / median['version']:.2f}   (target at most 1.5)")
    print(f"small image, replacing output: stars / --version = "
          f"{median['replacing'] / median['version']:.2f}   (target at most 1.5)")


if __name__ == "__main__":
    main()
