"""What a call through the Python module costs next to the same call in C: a one-shot
encrypt and an encrypt under a prepared key, of 100 bytes each.

usage: python3 bench/python_overhead.py [LUPEX_BENCH]

The Python side loads the library that LUPEX_LIBRARY names (scripts/bench.sh --python
sets the bench build's). With the path of lupex_bench, the C figures are that
program's medians for the same calls through the C API ("C API encrypt 100 bytes",
"..., prepared key"), and the table shows the difference. Figures are medians of
per-call times over short batches, in microseconds, with the Python minimum beside
them: on a busy machine the minimum shows the cost of the call itself.
"""
import os
import statistics
import subprocess
import sys
import timeit

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "python"))
import lupex  # noqa: E402

KEY = b"benchmark-key-16"
# Printable, blanks inside, like the C benchmark's sample text.
TEXT = bytes(33 + (i * 7) % 94 if i % 9 else 32 for i in range(100))


def per_call_us(call, batches=200):
    """The median and the minimum per-call time of short batches (about 2 ms each),
    so that a batch that another process interrupts counts as one outlier."""
    timer = timeit.Timer(call)
    number, seconds = timer.autorange()  # calls for 0.2 s
    number = max(1, int(number * 0.002 / seconds))
    times = [t / number * 1e6 for t in timer.repeat(batches, number)]
    return statistics.median(times), min(times)


def c_figures(program):
    """label -> lupex µs from lupex_bench's table, for the C API rows used here."""
    lines = subprocess.run([program, "--benchmark_filter=C API encrypt 100 bytes"],
                           capture_output=True, text=True, check=True).stdout.splitlines()
    figures = {}
    for line in lines:
        cells = [cell.strip() for cell in line.strip("|").split("|")]
        if len(cells) == 4 and cells[0].startswith("C API encrypt 100 bytes"):
            figures[cells[0]] = float(cells[1])
    return figures


def main():
    key = lupex.Key(KEY)
    assert key.encrypt(TEXT) == lupex.encrypt(KEY, TEXT)
    rows = [
        ("encrypt 100 bytes, one shot", "C API encrypt 100 bytes",
         per_call_us(lambda: lupex.encrypt(KEY, TEXT))),
        ("encrypt 100 bytes, prepared key", "C API encrypt 100 bytes, prepared key",
         per_call_us(lambda: key.encrypt(TEXT))),
    ]
    key.close()
    c = c_figures(sys.argv[1]) if len(sys.argv) > 1 else {}
    print(f"lupex {lupex.__version__} from {os.environ.get('LUPEX_LIBRARY', lupex.LIBRARY_NAME)}, "
          f"Python {sys.version.split()[0]}; medians per call in microseconds\n")
    print("| call | Python µs | Python min µs | C API µs | Python overhead µs |\n"
          "|---|---:|---:|---:|---:|")
    for label, c_label, (python_us, python_min) in rows:
        c_us = c.get(c_label)
        c_cell = f"{c_us:.2f}" if c_us is not None else "-"
        overhead = f"{python_us - c_us:.2f}" if c_us is not None else "-"
        print(f"| {label} | {python_us:.2f} | {python_min:.2f} | {c_cell} | {overhead} |")


if __name__ == "__main__":
    main()
