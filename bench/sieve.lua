-- Sieve of Eratosthenes in functions: count the primes up to n in a fresh local table,
-- several times.
local function countPrimes(n)
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
   local primes = 0
   for k = 2, n do
      if flags[k + 1] == 1 then primes = primes + 1 end
   end
   return primes
end

local function sieve(n, rounds)
   local primes = 0
   for r = 1, rounds do
      primes = countPrimes(n)
   end
   return primes
end

local n = tonumber(arg[1]) or 1000000
local rounds = tonumber(arg[2]) or 20
print("sieve " .. n .. " " .. sieve(n, rounds))
