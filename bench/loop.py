# Integer while-loop in a function: arithmetic, remainder, a comparison and a branch per
# iteration, on parameters and locals.
import sys


def loop(n, step):
    i = s = t = 0
    while i < n:
        s = (s + i * step + i % 13) % 1000003
        if s % 2 == 0:
            t += 1
        i += 1
    return "%d %d" % (s, t)


n = int(sys.argv[1]) if len(sys.argv) > 1 else 40000000
print("loop " + loop(n, 7))
