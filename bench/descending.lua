-- Growth: fill a table in descending index order in a function, then walk it in ascending
-- order.
local function descending(n)
   local a = {}
   for i = n - 1, 0, -1 do
      a[i] = i % 1000
   end
   local sum = 0
   for i = 0, n - 1 do
      sum = (sum * 31 + a[i]) % 1000003
   end
   return sum
end

local n = tonumber(arg[1]) or 100000
print("descending " .. n .. " " .. descending(n))
