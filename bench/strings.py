# String building and slicing in a function: append numbers to a text, measure, cut and
# search it.
import sys


def strings(n, pieces):
    total = 0
    for i in range(n):
        s = ""
        for j in range(pieces):
            s += "k" + str(i + j) + ","
        total += len(s)
        t = s[4:14]
        total += len(t)
        total += s.find(",k" + str(i + 7) + ",") + 1
        if s[0:1] == "k":
            total += 1
        total = total % 1000003
    return total


n = int(sys.argv[1]) if len(sys.argv) > 1 else 350000
print("strings %d %d" % (n, strings(n, 20)))
