local Obj = {}
Obj.__index = Obj
function Obj:fib(n)
  if n < 2 then return n end
  return self:fib(n - 1) + self:fib(n - 2)
end
print(setmetatable({}, Obj):fib(27))
