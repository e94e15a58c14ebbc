# Memory: keep n integers alive in one local list while walking it. bench/run takes the
# peak resident memory of this run minus that of a run with n = 0, divided by n.
import sys


def keep(n):
    a = []
    for i in range(n):
        a.append(i)
    total = 0
    for v in a:
        total = (total + v) % 1000003
    return total


n = int(sys.argv[1]) if len(sys.argv) > 1 else 1000000
print("intarray %d %d" % (n, keep(n)))
