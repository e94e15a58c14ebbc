-- Array fill and foreach: fill a fresh array by index, then walk it.
local n = tonumber(arg[1]) or 200000
local rounds = tonumber(arg[2]) or 30

local sum, count = 0, 0
for r = 0, rounds - 1 do
   local a = {}
   for i = 0, n - 1 do
      a[i + 1] = (i * 7 + r) % 1000
   end
   for _, v in ipairs(a) do
      sum = (sum + v) % 1000003
      count = count + 1
   end
end
print("arrays " .. count .. " " .. sum)
