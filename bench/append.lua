-- Growth: append one digit at a time to a text in a function. Lua strings are immutable,
-- so each append copies the text: this is the straightforward script, not the fast one
-- (table.concat).
local function append(n)
   local s = ""
   for i = 0, n - 1 do s = s .. "1" end
   return #s .. " " .. string.sub(s, n - 2)
end

local n = tonumber(arg[1]) or 40000
print("append " .. n .. " " .. append(n))
