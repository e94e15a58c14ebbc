# Sieve of Eratosthenes in functions: count the primes up to n in a fresh local list,
# several times.
import sys


def count_primes(n):
    flags = [0] * (n + 1)
    for i in range(n + 1):
        flags[i] = 1
    i = 2
    while i * i <= n:
        if flags[i] == 1:
            j = i * i
            while j <= n:
                flags[j] = 0
                j += i
        i += 1
    primes = 0
    for k in range(2, n + 1):
        if flags[k] == 1:
            primes += 1
    return primes


def sieve(n, rounds):
    primes = 0
    for r in range(rounds):
        primes = count_primes(n)
    return primes


n = int(sys.argv[1]) if len(sys.argv) > 1 else 1000000
rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 20
print("sieve %d %d" % (n, sieve(n, rounds)))
