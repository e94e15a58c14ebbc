def onEvent(id, line, address):
    space = line.find(" ") + 1
    user = line[:space - 1]
    size = len(line) + len(address)
    dot = address.find(".") + 1
    octet = address[dot:address.find(".", dot)]
    if user == "admin":
        size += 1000
    score = classify(user, octet)
    return (id * 31 + size * 7 + space + score) % 1000003
