# Growth: append one digit at a time to a text in a function.
import sys


def append(n):
    s = ""
    for i in range(n):
        s += "1"
    return "%d %s" % (len(s), s[n - 3:])


n = int(sys.argv[1]) if len(sys.argv) > 1 else 40000
print("append %d %s" % (n, append(n)))
