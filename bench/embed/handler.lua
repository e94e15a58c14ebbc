function onEvent(id, line, address)
   local space = string.find(line, " ", 1, true)
   local user = string.sub(line, 1, space - 1)
   local size = #line + #address
   local dot = string.find(address, ".", 1, true)
   local octet = string.sub(address, dot + 1, string.find(address, ".", dot + 1, true) - 1)
   if user == "admin" then size = size + 1000 end
   local score = classify(user, octet)
   return (id * 31 + size * 7 + space + score) % 1000003
end
