-- Growth: store the keys 0 to n-1 of a table in a pseudo-random order (the same linear
-- congruential generator as the other languages), then walk it in ascending order.
local function scattered(n)
   local a = {}
   local m = 1
   while m < n do m = m * 2 end
   local x = 0
   for i = 0, n - 1 do
      repeat
         x = (x * 1103515245 + 12345) % m
      until x < n
      a[x] = i % 1000
   end
   local sum = 0
   for i = 0, n - 1 do
      sum = (sum * 31 + a[i]) % 1000003
   end
   return sum
end

local n = tonumber(arg[1]) or 100000
print("random " .. n .. " " .. scattered(n))
