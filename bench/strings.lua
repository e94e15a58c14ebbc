-- String building and slicing in a function: append numbers to a text, measure, cut and
-- search it.
local function strings(n, pieces)
   local total = 0
   for i = 0, n - 1 do
      local s = ""
      for j = 0, pieces - 1 do
         s = s .. "k" .. (i + j) .. ","
      end
      total = total + #s
      local t = string.sub(s, 5, 5 + 10 - 1)
      total = total + #t
      total = total + (string.find(s, ",k" .. (i + 7) .. ",", 1, true) or 0)
      if string.sub(s, 1, 1) == "k" then total = total + 1 end
      total = total % 1000003
   end
   return total
end

local n = tonumber(arg[1]) or 350000
print("strings " .. n .. " " .. strings(n, 20))
