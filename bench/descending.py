# Growth: fill a dict in descending key order in a function, then walk it in ascending
# key order (a list cannot be filled from its end without knowing its size).
import sys


def descending(n):
    a = {}
    for i in range(n - 1, -1, -1):
        a[i] = i % 1000
    total = 0
    for i in sorted(a):
        total = (total * 31 + a[i]) % 1000003
    return total


n = int(sys.argv[1]) if len(sys.argv) > 1 else 100000
print("descending %d %d" % (n, descending(n)))
