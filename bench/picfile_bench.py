#!/usr/bin/python3
"""picfile.imread against OpenImageIO's Python binding, and eight threads
against one, on the benchmarks' typical and noisy 3840 x 2160 RGBA frames.

    cmake --build build/native --target load_write_bench picfile_core
    PYTHONPATH=build/native/python bench/picfile_bench.py [--build build/native] [--repeat 5]

Figures are the best of --repeat runs, all taken in one run of this script,
so that their ratios compare like with like; they mean something only on a
quiet machine. OpenImageIO comes from Debian's python3-openimageio; without
it that comparison is skipped.
"""

import argparse
import concurrent.futures
import importlib.util
import os
import shutil
import subprocess
import sys
import tempfile
import time

import numpy

import picfile


def best_seconds(work, repeat):
    best = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        work()
        best = min(best, time.perf_counter() - start)
    return best


def oiio_read(path):
    import OpenImageIO

    image = OpenImageIO.ImageInput.open(path)
    if image is None:
        raise RuntimeError(f"OpenImageIO cannot open {path}: {OpenImageIO.geterror()}")
    try:
        return image.read_image("uint8")
    finally:
        image.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--build", default=os.path.join(here, "..", "build", "native"))
    parser.add_argument("--repeat", type=int, default=5)
    arguments = parser.parse_args()

    folder = tempfile.mkdtemp(prefix="picfile-bench-")
    try:
        writer = os.path.join(arguments.build, "bin", "load_write_bench")
        frames = {name: os.path.join(folder, f"{name}.pic") for name in ("typical", "noisy")}
        for name, path in frames.items():
            subprocess.run([writer, "--make-frame", name, path], check=True)

        have_oiio = importlib.util.find_spec("OpenImageIO") is not None
        if not have_oiio:
            print("OpenImageIO's Python binding is not installed: no comparison with it")

        print(f"{'frame':8} {'MB':>6} {'picfile ms':>11} {'OIIO ms':>9} {'ratio':>6}")
        for name, path in frames.items():
            ours = best_seconds(lambda: picfile.imread(path), arguments.repeat)
            line = f"{name:8} {os.path.getsize(path) / 1e6:6.1f} {ours * 1e3:11.1f}"
            if have_oiio:
                same = numpy.array_equal(oiio_read(path), picfile.imread(path))
                theirs = best_seconds(lambda: oiio_read(path), arguments.repeat)
                line += f" {theirs * 1e3:9.1f} {theirs / ours:5.1f}x"
                line += "" if same else "  (OpenImageIO's pixels differ)"
            print(line)

        # Eight files, four of each frame, read by one thread and by eight.
        copies = []
        for index in range(8):
            source = frames["typical" if index % 2 == 0 else "noisy"]
            copy = os.path.join(folder, f"copy{index}.pic")
            shutil.copyfile(source, copy)
            copies.append(copy)

        def one_thread():
            for copy in copies:
                picfile.imread(copy)

        with concurrent.futures.ThreadPoolExecutor(8) as pool:

            def eight_threads():
                list(pool.map(picfile.imread, copies))

            single = best_seconds(one_thread, arguments.repeat)
            several = best_seconds(eight_threads, arguments.repeat)
        cores = len(os.sched_getaffinity(0)) if hasattr(os, "sched_getaffinity") else os.cpu_count()
        print(
            f"8 files: 1 thread {single * 1e3:.0f} ms, 8 threads {several * 1e3:.0f} ms, "
            f"{single / several:.2f}x on {cores} cores"
        )
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
