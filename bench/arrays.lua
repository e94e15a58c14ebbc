-- Array fill and foreach in functions: each round fills a fresh local table by index, then
-- walks it.
local function fillAndWalk(n, r)
   local a = {}
   for i = 0, n - 1 do
      a[i + 1] = (i * 7 + r) % 1000
   end
   local sum = 0
   for _, v in ipairs(a) do
      sum = (sum + v) % 1000003
   end
   return sum
end

local function arrays(n, rounds)
   local total = 0
   for r = 0, rounds - 1 do
      total = (total + fillAndWalk(n, r)) % 1000003
   end
   return total
end

local n = tonumber(arg[1]) or 200000
local rounds = tonumber(arg[2]) or 100
print("arrays " .. n * rounds .. " " .. arrays(n, rounds))
