-- Integer while-loop in a function: arithmetic, remainder, a comparison and a branch per
-- iteration, on parameters and locals.
local function loop(n, step)
   local i, s, t = 0, 0, 0
   while i < n do
      s = (s + i * step + i % 13) % 1000003
      if s % 2 == 0 then t = t + 1 end
      i = i + 1
   end
   return s .. " " .. t
end

local n = tonumber(arg[1]) or 40000000
print("loop " .. loop(n, 7))
