-- Memory: keep n integers alive in one local table while walking it. bench/run takes the
-- peak resident memory of this run minus that of a run with n = 0, divided by n.
local function keep(n)
   local a = {}
   for i = 0, n - 1 do
      a[i + 1] = i
   end
   local sum = 0
   for _, v in ipairs(a) do
      sum = (sum + v) % 1000003
   end
   return sum
end

local n = tonumber(arg[1]) or 1000000
print("intarray " .. n .. " " .. keep(n))
