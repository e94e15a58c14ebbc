-- Recursive calls: naive Fibonacci.
local function fib(k)
   if k < 2 then return k end
   return fib(k - 1) + fib(k - 2)
end

local n = tonumber(arg[1]) or 36
print("fib " .. n .. " " .. fib(n))
