# Array fill and foreach in functions: each round fills a fresh local list by index, then
# walks it.
import sys


def fill_and_walk(n, r):
    a = []
    for i in range(n):
        a.append((i * 7 + r) % 1000)
    total = 0
    for v in a:
        total = (total + v) % 1000003
    return total


def arrays(n, rounds):
    total = 0
    for r in range(rounds):
        total = (total + fill_and_walk(n, r)) % 1000003
    return total


n = int(sys.argv[1]) if len(sys.argv) > 1 else 200000
rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 100
print("arrays %d %d" % (n * rounds, arrays(n, rounds)))
