local Obj = {}
Obj.__index = Obj
function Obj:fib(n)
  if n < 2 then return n end
  return self:fib(n - 1) + self:fib(n - 2)
end
function Obj:run()
  local s = 0
  for i = 0, 198 do s = s + self:fib(16) end
  return s
end
print(setmetatable({}, Obj):run())
