# Many small function calls: three nested calls per iteration of a loop in a function.
import sys


def add(a, b):
    return a + b


def mix(x):
    return add(x, 3) % 1000


def step(s, i):
    return (s + mix(i)) % 1000003


def calls(n):
    s = 0
    for i in range(n):
        s = step(s, i)
    return s


n = int(sys.argv[1]) if len(sys.argv) > 1 else 18000000
print("calls %d %d" % (n, calls(n)))
