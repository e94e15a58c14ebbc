# Array fill and foreach: fill a fresh array by index, then walk it.
import sys


def main():
    n = int(sys.argv[1]) if len(sys.argv) > 1 else 200000
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    total = count = 0
    for r in range(rounds):
        a = []
        for i in range(n):
            a.append((i * 7 + r) % 1000)
        for v in a:
            total = (total + v) % 1000003
            count += 1
    print("arrays %d %d" % (count, total))


main()
