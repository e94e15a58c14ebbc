# Regular-expression matching with captures, plus wildcard matching, over generated log
# lines, in a function.
import fnmatch
import re
import sys


def regex(n):
    total = fails = users = hosts = 0
    for i in range(n):
        line = ("user" + str(i % 97) + "-" + str(i) + " status=" + ("fail" if i % 7 == 0 else "ok")
                + " host=h" + str(i % 13))
        m = re.search(r"^([a-z]+)([0-9]+)-([0-9]+) status=([a-z]+)", line)
        if m:
            total = (total + int(m.group(2)) + int(m.group(3)) % 1000 + len(m.group(1))
                     + len(m.group(4))) % 1000003
        m = re.search(r"host=h(1[0-2])$", line)
        if m:
            hosts += int(m.group(1))
        if fnmatch.fnmatchcase(line, "*status=fail*"):
            fails += 1
        if fnmatch.fnmatchcase(line, "user1?-*"):
            users += 1
    return "%d %d %d %d" % (total, hosts, fails, users)


n = int(sys.argv[1]) if len(sys.argv) > 1 else 600000
print("regex %d %s" % (n, regex(n)))
