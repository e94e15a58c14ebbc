# Recursive calls: naive Fibonacci.
import sys


def fib(k):
    if k < 2:
        return k
    return fib(k - 1) + fib(k - 2)


n = int(sys.argv[1]) if len(sys.argv) > 1 else 36
print("fib %d %d" % (n, fib(n)))
