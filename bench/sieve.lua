-- Sieve of Eratosthenes: count the primes up to n, several times.
local n = tonumber(arg[1]) or 1000000
local rounds = tonumber(arg[2]) or 5

local primes = 0
for r = 1, rounds do
   local flags = {}
   for i = 0, n do flags[i + 1] = 1 end
   local i = 2
   while i * i <= n do
      if flags[i + 1] == 1 then
         local j = i * i
         while j <= n do
            flags[j + 1] = 0
            j = j + i
         end
      end
      i = i + 1
   end
   primes = 0
   for k = 2, n do
      if flags[k + 1] == 1 then primes = primes + 1 end
   end
end
print("sieve " .. n .. " " .. primes)
