#!/usr/bin/python3
"""Python decoding on two threads at once against one: the package releases the GIL while it
decodes, so two threads together should take well under twice the time of one.

    PYTHONPATH=build/python /usr/bin/python3 bench/python/two_threads.py FILE.kvl [SCALE]

Decodes the whole image at SCALE (default 0) five times per thread; prints the median time of
one thread doing it alone and of two threads doing it at once, and their ratio (1.0 = perfect
overlap, 2.0 = no overlap).
"""

import statistics
import sys
import threading
import time

import kavel


def run(image, scale, thread_count):
    def work():
        for _ in range(5):
            image.read(scale=scale)

    threads = [threading.Thread(target=work) for _ in range(thread_count)]
    started = time.perf_counter()
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    return time.perf_counter() - started


def main():
    image = kavel.open(sys.argv[1])
    scale = int(sys.argv[2]) if len(sys.argv) > 2 else 0
    run(image, scale, 1)  # warm-up
    one = statistics.median(run(image, scale, 1) for _ in range(3))
    two = statistics.median(run(image, scale, 2) for _ in range(3))
    print(f"{image}: one thread {one:.3f} s, two threads at once {two:.3f} s, "
          f"ratio {two / one:.2f} (2.0 = no overlap)")


if __name__ == "__main__":
    main()
