-- Many small function calls: three nested calls per iteration of a loop in a function.
local function add(a, b) return a + b end
local function mix(x) return add(x, 3) % 1000 end
local function step(s, i) return (s + mix(i)) % 1000003 end

local function calls(n)
   local s = 0
   for i = 0, n - 1 do
      s = step(s, i)
   end
   return s
end

local n = tonumber(arg[1]) or 18000000
print("calls " .. n .. " " .. calls(n))
