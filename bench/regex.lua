-- Pattern matching with captures, plus wildcard matching, over generated log lines, in a
-- function. Lua has no regular expressions: its patterns express the same two expressions,
-- and the wildcards (* and ?) are translated once into anchored patterns.
local globs = {}
local function like(text, glob)
   local pattern = globs[glob]
   if pattern == nil then
      pattern = "^" .. glob:gsub("[%^%$%(%)%%%.%[%]%+%-]", "%%%0"):gsub("%*", ".*"):gsub("%?", ".") .. "$"
      globs[glob] = pattern
   end
   return string.find(text, pattern) ~= nil
end

local function regex(n)
   local total, fails, users, hosts = 0, 0, 0, 0
   for i = 0, n - 1 do
      local line = "user" .. (i % 97) .. "-" .. i .. " status=" .. (i % 7 == 0 and "fail" or "ok") .. " host=h" .. (i % 13)
      local name, number, id, status = string.match(line, "^(%l+)(%d+)%-(%d+) status=(%l+)")
      if name then
         total = (total + tonumber(number) + tonumber(id) % 1000 + #name + #status) % 1000003
      end
      local host = string.match(line, "host=h(1[0-2])$")
      if host then hosts = hosts + tonumber(host) end
      if like(line, "*status=fail*") then fails = fails + 1 end
      if like(line, "user1?-*") then users = users + 1 end
   end
   return total .. " " .. hosts .. " " .. fails .. " " .. users
end

local n = tonumber(arg[1]) or 600000
print("regex " .. n .. " " .. regex(n))
