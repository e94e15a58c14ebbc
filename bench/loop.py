# Integer while-loop: arithmetic, remainder, a comparison and a branch per iteration.
import sys


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 40000000
    i = s = t = 0
    while i < n:
        s = (s + i * 7 + i % 13) % 1000003
        if s % 2 == 0:
            t += 1
        i += 1
    print("loop %d %d" % (s, t))


main()
