-- String building and slicing: append numbers to a text, measure, cut and search it.
local n = tonumber(arg[1]) or 200000

local total = 0
for i = 0, n - 1 do
   local s = ""
   for j = 0, 19 do
      s = s .. "k" .. (i + j) .. ","
   end
   total = total + #s
   local t = string.sub(s, 5, 5 + 10 - 1)
   total = total + #t
   total = total + (string.find(s, ",k" .. (i + 7) .. ",", 1, true) or 0)
   if string.sub(s, 1, 1) == "k" then total = total + 1 end
   total = total % 1000003
end
print("strings " .. n .. " " .. total)
