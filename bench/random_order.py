# Growth: store the keys 0 to n-1 of a dict in a pseudo-random order (the same linear
# congruential generator as the other languages), then walk it in ascending key order.
import sys


def scattered(n):
    a = {}
    m = 1
    while m < n:
        m *= 2
    x = 0
    for i in range(n):
        x = (x * 1103515245 + 12345) % m
        while x >= n:
            x = (x * 1103515245 + 12345) % m
        a[x] = i % 1000
    total = 0
    for i in sorted(a):
        total = (total * 31 + a[i]) % 1000003
    return total


n = int(sys.argv[1]) if len(sys.argv) > 1 else 100000
print("random %d %d" % (n, scattered(n)))
