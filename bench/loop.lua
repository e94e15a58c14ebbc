-- Integer while-loop: arithmetic, remainder, a comparison and a branch per iteration.
local n = tonumber(arg[1]) or 30000000

local i, s, t = 0, 0, 0
while i < n do
   s = (s + i * 7 + i % 13) % 1000003
   if s % 2 == 0 then t = t + 1 end
   i = i + 1
end
print("loop " .. s .. " " .. t)
