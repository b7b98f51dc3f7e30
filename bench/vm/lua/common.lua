-- 32-bit wrap-around, as Plimo's integers have it.
function wrap(x)
  x = x % 4294967296
  if x >= 2147483648 then x = x - 4294967296 end
  return x
end
